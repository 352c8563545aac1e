// A clerk's screen of 1024x768 (and the windows also at 1280x800): every category window and
// the dialogs are laid out for the room the page has, with every button in sight and every
// field at least 20 px high; only the forms scroll, and only down. The tab strip scrolls with
// ten windows open and keeps the active tab in sight, the page never scrolls sideways. The
// training subjects are typed from the keyboard (an entry grid has no type-ahead); a dialog
// is drawn once; the status line belongs to its window; access keys shared by several
// buttons move the focus; the authority's inbox shows a new submission when it comes to the
// front and once a minute.

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {launchBrowser, login, newPage, settle, shot, startServer} from './harness.mjs';

const run = promisify(execFile);
const SCREEN = {width: 1024, height: 768};

// What does not fit in the window in front: buttons outside the page or outside the window's
// box, fields lower than 20 px, a page or window box that scrolls, a form that scrolls
// sideways (forms may scroll down).
function misfits(page) {
  return page.evaluate(() => {
    const out = [];
    const dialogs = document.querySelectorAll('.dialog');
    const win = dialogs.length ? dialogs[dialogs.length - 1] : document.querySelector('.window');
    const viewport = win.querySelector('.viewport');
    const box = viewport.getBoundingClientRect();
    const inside = (r, b) => r.left >= b.left - 1 && r.top >= b.top - 1 && r.right <= b.right + 1 && r.bottom <= b.bottom + 1;
    const page = {left: 0, top: 0, right: innerWidth, bottom: innerHeight};
    for (const button of win.querySelectorAll('.ctl-button')) {
      const r = button.getBoundingClientRect();
      if (!inside(r, page) || !inside(r, box)) out.push(`button ${button.textContent} at ${r.left},${r.top}-${r.right},${r.bottom}`);
    }
    for (const field of win.querySelectorAll('input:not([type=checkbox]), select, textarea')) {
      const r = (field.closest('.dd') || field).getBoundingClientRect();
      if (r.height < 20) out.push(`field ${field.getAttribute('aria-label')} ${r.height.toFixed(1)} px high`);
    }
    for (const form of win.querySelectorAll('.ctl-form:not(:has(.form-preview))')) {
      if (form.scrollWidth > form.clientWidth + 1) out.push(`form ${form.dataset.name || form.className} scrolls sideways: ${form.scrollWidth} in ${form.clientWidth}`);
    }
    const root = document.documentElement;
    if (root.scrollWidth > root.clientWidth || root.scrollHeight > root.clientHeight) out.push('the page scrolls');
    if (viewport.scrollWidth > viewport.clientWidth + 1 || viewport.scrollHeight > viewport.clientHeight + 1)
      out.push(`the window scrolls: ${viewport.scrollWidth}x${viewport.scrollHeight} in ${viewport.clientWidth}x${viewport.clientHeight}`);
    return out;
  });
}

// Presses `button` of the window in front, which opens a dialog (answering the questions some
// ask first), checks that the dialog fits the screen, keeps its picture and closes it.
async function dialogFits(page, button, title) {
  await page.click(`.window [data-name=${button}]`);
  await settle(page);
  while (await page.locator('.msgbox').count()) {
    await page.locator('.msgbox [data-answer]').first().click();
    await settle(page);
  }
  const dialog = page.locator('.dialog');
  const label = await dialog.getAttribute('aria-label');
  assert.ok(label.startsWith(title), `${label} is ${title}`);
  await shot(page, `screens-dialog-${title}`);
  assert.deepEqual(await misfits(page), [], title);
  await dialog.locator('.window-title .tab-close').click();
  await settle(page);
  assert.equal(await page.locator('.dialog').count(), 0, `${title} closes`);
}

// Opens every category window from the menu, with a declaration open, and checks that it
// fits the page; keeps a picture of each, named after `size`.
async function everyWindowFits(page, size) {
  const captions = await page.locator('.menu-item').allTextContents();
  for (const caption of captions) {
    await page.locator('.menu-item', {hasText: caption}).click();
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), caption);
    if (await page.locator('.window [data-name=pb_16]').count()) {
      await page.click('[data-name=pb_16]');
      await settle(page);
      // Some categories ask first (a question, a notice); their first answer goes on.
      while (await page.locator('.msgbox').count()) {
        await page.locator('.msgbox [data-answer]').first().click();
        await settle(page);
      }
    }
    await shot(page, `screens-${size}${caption}`);
    assert.deepEqual(await misfits(page), [], caption);
  }
  return captions;
}

describe('screens a clerk can work in at 1024x768', () => {
  let server;
  let browser;
  let page;
  let captions;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    page = await newPage(browser, SCREEN);
    await login(page, server.url, 'clerk001', 'clerk001pass');
    captions = await page.locator('.menu-item').allTextContents();
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const query = async (sql) => (await run('sqlite3', [server.db, sql])).stdout.trim();
  const status = () => page.locator('.status-text').textContent();
  const activeTitle = () => page.locator('.tab.active .tab-title').textContent();

  it('fits every category window, with a declaration open, into the screen', async () => {
    assert.deepEqual(await everyWindowFits(page, ''), captions);
  });

  it('scrolls the tab strip with ten windows open and keeps the active tab in sight', async () => {
    assert.ok(await page.locator('.tab').count() >= 9);
    const tabs = page.locator('.tabs');
    const inSight = () => page.evaluate(() => {
      const strip = document.querySelector('.tabs').getBoundingClientRect();
      const tab = document.querySelector('.tab.active').getBoundingClientRect();
      return tab.left >= strip.left - 1 && tab.right <= strip.right + 1;
    });
    const sideways = () => page.evaluate(() => document.documentElement.scrollWidth > document.documentElement.clientWidth);
    assert.ok(await tabs.evaluate((t) => t.scrollWidth > t.clientWidth), 'the strip overflows');
    assert.equal(await inSight(), true);
    // The first window again, from the menu: its tab comes into sight.
    await page.locator('.menu-item', {hasText: captions[0]}).click();
    await settle(page);
    assert.equal(await activeTitle(), captions[0]);
    assert.equal(await inSight(), true);
    await page.locator('.menu-item', {hasText: captions[captions.length - 1]}).click();
    await settle(page);
    assert.equal(await inSight(), true);
    assert.equal(await sideways(), false);
    await shot(page, 'screens-tabs');
  });

  it('clears the status line when the user acts in another window', async () => {
    await page.locator('.menu-item', {hasText: '公务员培训'}).click();
    await settle(page);
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await status(), '保存成功');
    await page.locator('.menu-item', {hasText: captions[0]}).click();
    await settle(page);
    assert.equal(await status(), '就绪');
    await page.locator('.menu-item', {hasText: '公务员培训'}).click();
    await settle(page);
    assert.equal(await status(), '就绪');
  });

  it('types the training subjects from the keyboard in a dialog that is drawn once', async () => {
    await page.click('[data-name=pb_8]');
    await settle(page);
    const dialog = page.locator('.dialog');
    assert.equal(await dialog.getAttribute('aria-label'), '培训科目设置');
    assert.deepEqual(await misfits(page), []);
    await dialog.evaluate((d) => { d.dataset.first = 'yes'; });
    const row = dialog.locator('[data-name=dw_1] tbody tr').nth(5);
    await row.locator('input[aria-label=名称]').click();
    await page.keyboard.press('Control+A');
    await page.keyboard.type('Excel2');
    await page.keyboard.press('Tab');
    await settle(page);
    // Digits and Latin letters go into the cells, not into a search of the list.
    for (const [label, text] of [['课时', '12'], ['学分', '1.5']]) {
      await row.locator(`input[aria-label=${label}]`).click();
      await page.keyboard.type(text);
      await page.keyboard.press('Tab');
      await settle(page);
    }
    // 培训形式 from its drop-down, with the keyboard.
    await row.locator('input[aria-label=培训形式]').click();
    await page.locator('.dd-popup .dd-item').first().waitFor();
    await settle(page);
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await settle(page);
    for (const [label, text] of [['应培人数', '20'], ['合格人数', '18'], ['备注', 'ab 12 cd']]) {
      await row.locator(`input[aria-label=${label}]`).click();
      await page.keyboard.type(text);
      await page.keyboard.press('Tab');
      await settle(page);
    }
    assert.equal(await dialog.evaluate((d) => d.dataset.first), 'yes', 'the dialog is the one drawn first');
    assert.equal(await dialog.locator('[data-name=dw_1] tbody tr.current').getAttribute('data-row'), '6');
    await shot(page, 'screens-subjects');
    await dialog.locator('[data-name=pb_2]').click();
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.match(await query("select name || '|' || ks || '|' || xf || '|' || coalesce(xs, '') || '|' || yp || '|' || hg || '|' || bz " +
                             "from rs_px_type where code = '06'"),
                 /^Excel2\|12(\.0)?\|1\.5\|.+\|20\|18\|ab 12 cd$/);
    await dialog.locator('[data-name=pb_1]').click();
    await settle(page);
  });

  it('fits the period, staffing and history dialogs into the screen', async () => {
    await page.locator('.menu-item', {hasText: '公务员培训'}).click();
    await settle(page);
    await dialogFits(page, 'pb_6', '设置提取时间');
    await dialogFits(page, 'pb_history', '申报记录');
    await page.locator('.menu-item', {hasText: '增人计划'}).click();
    await settle(page);
    await page.click('[data-name=pb_5]');
    await settle(page);
    await dialogFits(page, 'pb_8', '编制情况申报');
  });

  it('moves the focus among the buttons that share an access key and presses a key of one button', async () => {
    await page.locator('.menu-item', {hasText: captions[0]}).click();
    await settle(page);
    const shared = await page.evaluate(() => {
      const by = {};
      for (const b of document.querySelectorAll('.window button[data-mnemonic]:not(:disabled)')) {
        (by[b.dataset.mnemonic] ||= []).push(b.dataset.name);
      }
      return Object.entries(by).find(([, names]) => names.length > 1);
    });
    assert.ok(shared, 'a key shared by buttons of the window');
    const [letter, names] = shared;
    const focused = () => page.evaluate(() => document.activeElement.dataset.name);
    const rows = await page.locator('[data-name=dw_1] tbody tr').count();
    for (const name of [...names, names[0]]) {
      await page.keyboard.press(`Alt+${letter.toUpperCase()}`);
      await settle(page);
      assert.equal(await focused(), name);
    }
    assert.equal(await page.locator('.msgbox').count(), 0, 'no button pressed');
    assert.equal(await page.locator('[data-name=dw_1] tbody tr').count(), rows);
    // Alt+Q right after typing a date that leaves no declaration in the range: the query
    // sees the date.
    await page.locator('[data-name=em_1]').fill('2099-01-01');
    await page.keyboard.press('Alt+Q');
    await settle(page);
    assert.equal(await page.locator('[data-name=dw_1] tbody tr[data-row]').count(), 0);
  });

  it('fits every category window into a screen of 1280x800 too', async () => {
    const wide = await newPage(browser, {width: 1280, height: 800});
    await login(wide, server.url, 'clerk001', 'clerk001pass');
    await everyWindowFits(wide, '1280x800-');
    await wide.close();
  });
});

describe('the authority\'s inbox brings itself up to date', () => {
  let server;
  let browser;
  let clerk;
  let authority;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    clerk = await newPage(browser, SCREEN);
    authority = await newPage(browser, SCREEN);
    await authority.clock.install();
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await login(authority, server.url, 'authority', 'authoritypass');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const waiting = () => authority.locator('.window [data-name=dw_1] tbody tr[data-row]').count();

  const submit = async (caption) => {
    await clerk.locator('.menu-item', {hasText: caption}).click();
    await settle(clerk);
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await clerk.locator('[data-name=dw_3]').locator('[aria-label="数据上报"], [aria-label="上报数据"]').check();
    await settle(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    while (await clerk.locator('.msgbox').count()) {
      await clerk.locator('.msgbox [data-answer]').first().click();
      await settle(clerk);
    }
  };

  it('shows a new submission when the inbox comes to the front, and after a minute in front', async () => {
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '待审核申报');
    assert.equal(await waiting(), 0);
    await submit('公务员辞退');
    // Another window, then the inbox again.
    await authority.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(authority);
    await authority.locator('.menu-item', {hasText: '待审核申报'}).click();
    await settle(authority);
    assert.equal(await waiting(), 1);
    await submit('公务员辞职');
    assert.equal(await waiting(), 1);
    await authority.clock.fastForward(61000);
    await settle(authority);
    assert.equal(await waiting(), 2);
    await shot(authority, 'screens-inbox');
  });

  it('fits the review dialogs of a submission into the screen', async () => {
    await authority.locator('.window [data-name=dw_1] tbody tr[data-row]').first().dblclick();
    await settle(authority);
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '公务员辞退');
    await shot(authority, 'screens-review');
    assert.deepEqual(await misfits(authority), []);
    await dialogFits(authority, 'pb_preview_accept', '入库预览');
    await dialogFits(authority, 'pb_history', '申报记录');
    await dialogFits(authority, 'pb_return', '退回申报');
  });
});
