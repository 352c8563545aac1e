// A declaration's life in the browser: the clerk files and submits it, the authority finds it
// in the inbox, opens it and accepts it, and the clerk then finds it read-only and cannot
// delete it. Then a list of 60 workers followed by the keyboard: arrow keys held down, PageUp,
// PageDown, Home, End and typing pinyin initials, the current row always in view.

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {cell, launchBrowser, login, newPage, postEvent, sessionState, settle, shot, startServer} from './harness.mjs';

const run = promisify(execFile);

// Unit 002 has 11 workers; 49 more make a list of 60, one of them 欧阳明 (initials oym).
const SURNAMES = '赵钱孙李周吴郑王冯陈褚卫蒋沈韩杨朱秦尤许何吕施张孔曹严华金魏陶姜谢邹喻柏水窦章云苏潘葛奚范彭郎鲁韦昌马苗凤花方俞任袁柳';
function extraWorkers() {
  const rows = [];
  for (let i = 1; i <= 49; i++) {
    const code = `00290${String(i).padStart(2, '0')}`;
    const name = i === 44 ? '欧阳明' : `${SURNAMES[i - 1]}${'文武德才'[i % 4]}`;
    rows.push(`('002', '${code}', '${name}', '1', '01', '002')`);
  }
  return `insert into rs_main (company_num, worker_code, worker_name, sex, stuff_status, book_code) values ${rows.join(', ')};`;
}

describe('a declaration from filing to acceptance, and lists that follow the keyboard', () => {
  let server;
  let browser;
  let clerk;
  let authority;

  before(async () => {
    server = await startServer();
    await run('sqlite3', [server.db, extraWorkers()]);
    browser = await launchBrowser();
    clerk = await newPage(browser);
    authority = await newPage(browser);
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const status = (page) => page.locator('.status-text').textContent();
  const message = (page) => page.locator('.msgbox-text').textContent();
  const answer = async (page, name) => {
    await page.click(`.msgbox [data-answer=${name}]`);
    await settle(page);
  };
  const listRows = (page, control) => page.locator(`[data-name=${control}] tbody tr`);

  it('the clerk files a declaration and submits it', async () => {
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await clerk.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    assert.equal(await status(clerk), '已新增申报，请填写后保存');
    // The next edit clears what the status line said.
    await cell(clerk, 'dw_3', '申报人').fill('王小红');
    assert.equal(await status(clerk), '就绪');
    await cell(clerk, 'dw_3', '数据上报').check();
    await settle(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    assert.equal(await status(clerk), '保存成功');
    await listRows(clerk, 'dw_2').filter({hasText: '杨丽华'}).dblclick();
    await settle(clerk);
    assert.equal(await status(clerk), '已将杨丽华加入申报，请填写后保存');
    await cell(clerk, 'dw_4', '现任职时间').fill('2006-01-01');
    const post = cell(clerk, 'dw_4', '拟定职务');
    await post.click();
    await post.fill('副局长');
    const rank = cell(clerk, 'dw_4', '拟定级别');
    await rank.click();
    await rank.fill('县处级副职');
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    assert.equal(await clerk.locator('.msgbox').count(), 0, await clerk.locator('body').innerText());
    assert.equal(await status(clerk), '保存成功', JSON.stringify((await sessionState(clerk)).state.status));
    assert.match(await listRows(clerk, 'dw_1').first().textContent(), /0000000001.*已上报/);
    await shot(clerk, 'lifecycle-01-submitted');
  });

  it('the print preview says when the screen holds changes not saved yet', async () => {
    await cell(clerk, 'dw_3', '申报人').fill('王小');
    await cell(clerk, 'dw_3', '申报人').press('Tab');
    await settle(clerk);
    await clerk.click('[data-name=pb_6]');
    await settle(clerk);
    await clerk.waitForSelector('.preview-unsaved');
    assert.match(await clerk.locator('.preview-unsaved').textContent(), /尚未保存/);
    await shot(clerk, 'lifecycle-02-preview-unsaved');
    await clerk.locator('.tab.active .tab-close').click();
    await settle(clerk);
    // Back in the declaration, the change is dropped as the clerk would drop it.
    await clerk.locator('.tab', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    await clerk.click('[data-name=pb_3]');
    await settle(clerk);
    assert.match(await message(clerk), /保存/);
    await answer(clerk, 'no');
  });

  it('the authority finds it in the inbox, opens it and accepts it', async () => {
    await login(authority, server.url, 'authority', 'authoritypass');
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '待审核申报');
    const row = listRows(authority, 'dw_1').filter({hasText: '江州市人事局'});
    assert.equal(await row.count(), 1);
    assert.match(await row.textContent(), /001.*江州市人事局.*职位职数上报.*0000000001.*王小红/);
    await shot(authority, 'lifecycle-03-inbox');
    await row.dblclick();
    await settle(authority);
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '职位职数上报');
    assert.equal(await cell(authority, 'dw_3', '申报人').inputValue(), '王小红');
    // The authority reviews: the forms take no entry.
    assert.equal(await cell(authority, 'dw_3', '申报人').getAttribute('readonly'), '');
    await authority.click('[data-name=pb_approve]');
    await settle(authority);
    assert.equal(await message(authority), '确定要将本次申报数据入库吗？');
    await answer(authority, 'yes');
    assert.equal(await message(authority), '数据入库成功！');
    await answer(authority, 'ok');
    assert.match(await listRows(authority, 'dw_1').first().textContent(), /已入库/);
    await shot(authority, 'lifecycle-04-accepted');
  });

  it('the clerk then finds it read-only and cannot delete it', async () => {
    await clerk.click('[data-name=pb_3]');
    await settle(clerk);
    await listRows(clerk, 'dw_1').first().click();
    await settle(clerk);
    assert.match(await listRows(clerk, 'dw_1').first().textContent(), /已入库/);
    const declarant = cell(clerk, 'dw_3', '申报人');
    assert.equal(await declarant.inputValue(), '王小红');
    assert.equal(await declarant.getAttribute('readonly'), '');
    assert.ok(await cell(clerk, 'dw_3', '数据上报').isDisabled());
    const remove = clerk.locator('[data-name=pb_d]');
    assert.ok(await remove.isDisabled());
    assert.equal(await remove.getAttribute('title'), '该申报已入库，不能删除！');
    await shot(clerk, 'lifecycle-05-cannot-delete');
    // A hand-made click is answered by the window, before any question, and deletes nothing.
    const forced = await postEvent(clerk, {kind: 'click', target: 'pb_d'});
    assert.equal(forced.body.state.message.text, '该申报已入库，不能删除！');
    await postEvent(clerk, {kind: 'answer', target: 'ok'});
    await clerk.reload();
    await settle(clerk);
    const count = (await run('sqlite3', [server.db, "select count(*) from rs_w00031_com where pkid = '0000000001'"])).stdout.trim();
    assert.equal(count, '1');
    assert.match(await server.log(), /refused-change-accepted delete rs_w00031_com pkid=0000000001 unit=001/);
  });

  it('follows the keyboard through a list of 60 workers, the row always in view', async () => {
    const page = await newPage(browser, {width: 1024, height: 700});
    await login(page, server.url, 'clerk002', 'clerk002pass');
    await page.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(page);
    const rows = listRows(page, 'dw_2');
    assert.equal(await rows.count(), 60);
    const current = async () => {
      const state = (await sessionState(page)).state;
      const sheet = state.sheets[state.active_sheet];
      return sheet.controls.find((c) => c.name === 'dw_2').form.current_row;
    };
    // The current row, drawn, lies wholly inside its list, under the header.
    const inView = () => page.evaluate(() => {
      const box = document.querySelector('[data-name=dw_2]');
      const tr = box.querySelector('tbody tr.current');
      if (!tr) return {row: 0, inside: false};
      const b = box.getBoundingClientRect();
      const head = box.querySelector('thead').getBoundingClientRect();
      const r = tr.getBoundingClientRect();
      return {row: Number(tr.dataset.row), inside: r.top >= head.bottom - 1 && r.bottom <= b.bottom + 1,
              focused: document.activeElement === tr};
    });
    const expectRow = async (row) => {
      // Typed keys may first wait for the pinyin module, before anything is posted.
      await page.waitForFunction((r) => {
        const tr = document.querySelector('[data-name=dw_2] tbody tr.current');
        return tr && tr.dataset.row === String(r);
      }, row, {timeout: 10000});
      await settle(page);
      assert.equal(await current(), row, 'the server has the row');
      assert.deepEqual(await inView(), {row, inside: true, focused: true});
    };

    await rows.first().click();
    await expectRow(1);
    // Held down: 59 presses faster than the answers come, none lost.
    for (let i = 0; i < 59; i++) await page.keyboard.press('ArrowDown', {delay: 0});
    await expectRow(60);
    await shot(page, 'lifecycle-06-keyboard-end');
    await page.keyboard.press('Home');
    await expectRow(1);
    // A page is the rows the list shows under its header, less one that stays in sight.
    const shown = await page.evaluate(() => {
      const box = document.querySelector('[data-name=dw_2]');
      const row = box.querySelector('tbody tr.current').getBoundingClientRect().height;
      return Math.floor((box.getBoundingClientRect().height - box.querySelector('thead').offsetHeight) / row);
    });
    assert.ok(shown >= 4, `the list shows ${shown} rows`);
    await page.keyboard.press('PageDown');
    await settle(page);
    const paged = await current();
    assert.equal(paged, 1 + shown - 1, 'PageDown moves a page');
    assert.deepEqual(await inView(), {row: paged, inside: true, focused: true});
    await page.keyboard.press('PageUp');
    await expectRow(1);
    await page.keyboard.press('End');
    await expectRow(60);
    for (let i = 0; i < 20; i++) await page.keyboard.press('ArrowUp', {delay: 0});
    await expectRow(40);
    // Pinyin initials: "oym" is 欧阳明 (row 11 + 44), the only one.
    await page.keyboard.type('oym');
    await expectRow(55);
    assert.match(await rows.nth(54).textContent(), /欧阳明/);
    // The first characters of a code jump to it.
    await page.waitForTimeout(1000);
    await page.keyboard.type('0020003');
    await expectRow(3);
    await shot(page, 'lifecycle-07-keyboard-typed');
    // Legible at 1024 pixels: no text of the window is drawn below 12 px.
    const smallest = await page.evaluate(() => {
      let least = Infinity;
      const canvas = document.querySelector('.window-canvas');
      const zoom = Number(canvas.style.zoom || 1);
      for (const el of canvas.querySelectorAll('td, th, input, button, .ff-text')) {
        const size = parseFloat(getComputedStyle(el).fontSize) * zoom;
        if (size > 0 && el.getClientRects().length) least = Math.min(least, size);
      }
      return least;
    });
    assert.ok(smallest >= 11.9, `smallest text ${smallest}px`);
    assert.deepEqual(page.errors, []);
    await page.context().close();
  });
});
