// A unit of 9,999 workers: the worker list comes in windows of rows, scrolls to its end, finds
// a worker by name over the whole list on the server, takes him into a saved declaration, and
// no answer of the server grows with the unit: at most 100 KB for opening the window, at most
// 10 KB for every other.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {cell, launchBrowser, login, newPage, settle, shot, startServer} from './harness.mjs';

const WORKERS = 9999;

describe('a unit of 9,999 workers', {timeout: 300000}, () => {
  let server;
  let browser;
  let page;
  const answers = [];  // {path, bytes}

  before(async () => {
    server = await startServer({init: ['--demo', '--units', '1', '--workers', String(WORKERS)]});
    browser = await launchBrowser();
    page = await newPage(browser);
    page.on('response', async (response) => {
      const url = new URL(response.url());
      if (!url.pathname.startsWith('/api/')) return;
      const body = await response.body().catch(() => Buffer.alloc(0));
      const request = response.request();
      answers.push({path: url.pathname, event: request.postData() || '', bytes: body.length});
    });
    await login(page, server.url, 'clerk003', 'clerk003pass');
  });

  after(async () => {
    await browser?.close();
    await server?.stop();
  });

  const status = () => page.locator('.status-text').textContent();
  const list = () => page.locator('[data-name=dw_2]');
  const scrollList = (top) => list().evaluate((el, top) => {
    const scroller = el.closest('.ctl-form') || el;
    scroller.scrollTop = top === 'end' ? scroller.scrollHeight : top;
  }, top);
  // Waits until the list has drawn row `row` (after the rows request its scrolling made).
  const rowDrawn = async (row) => {
    await page.waitForSelector(`[data-name=dw_2] tbody tr[data-row="${row}"]`, {timeout: 20000});
    await settle(page);
  };

  let total = 0;  // the rows of the worker list (workers who left are not listed)
  it('opens the window with a window of the worker list at its full height', async () => {
    await page.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(page);
    total = await page.evaluate(async () => {
      const {state} = await (await fetch('/api/state')).json();
      return state.sheets[0].controls.find((c) => c.name === 'dw_2').form.row_count;
    });
    assert.ok(total > WORKERS * 0.9, `${total} workers listed`);
    const drawn = await list().locator('tbody tr[data-row]').count();
    assert.ok(drawn > 0 && drawn <= 400, `${drawn} rows drawn`);
    const height = await list().evaluate((el) => (el.closest('.ctl-form') || el).scrollHeight);
    assert.ok(height > total * 15, `the list is ${height} px high`);
    const opened = answers.find((a) => a.event.includes('w_vorant_zw'));
    assert.ok(opened && opened.bytes <= 100 * 1024, `opening answered ${opened && opened.bytes} bytes`);
  });

  it('files a new declaration', async () => {
    await page.click('[data-name=pb_16]');
    await settle(page);
    await cell(page, 'dw_3', '申报人').fill('张三');
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await status(), '保存成功');
  });

  let lastName = '';
  it('scrolls to the end of the worker list', async () => {
    await scrollList('end');
    await rowDrawn(total);
    const last = list().locator(`tbody tr[data-row="${total}"]`);
    assert.match(await last.textContent(), /^003\d{4}/);
    lastName = (await last.locator('td').nth(1).textContent()).trim();
    assert.ok(lastName.length >= 2, lastName);
    await shot(page, 'paging-01-end-of-list');
  });

  it('finds a worker by name over the whole list and takes him into the declaration', async () => {
    await scrollList(0);
    await rowDrawn(1);
    const found = await page.evaluate(async (name) => {
      const r = await fetch(`/api/find/dw_2.json?column=worker_name&text=${encodeURIComponent(name)}&from=1`);
      return (await r.json()).row;
    }, lastName);
    assert.ok(found >= 1 && found <= total, `found at ${found}`);
    const rowHeight = await list().locator('tbody tr[data-row]').first().evaluate((tr) => tr.offsetHeight);
    await scrollList((found - 1) * rowHeight);
    await rowDrawn(found);
    const row = list().locator(`tbody tr[data-row="${found}"]`);
    assert.match(await row.textContent(), new RegExp(lastName));
    await row.dblclick();
    await settle(page);
    assert.equal(await cell(page, 'dw_4', '姓名').inputValue(), lastName);
    await shot(page, 'paging-02-worker-added');
  });

  it('saves, and no answer grew with the unit', async () => {
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0, (await page.locator('.msgbox-text').allTextContents()).join());
    assert.equal(await status(), '保存成功');
    // The whole state (first load, or asked for) and opening the window may take up to 100 KB.
    const whole = (a) => a.event.includes('w_vorant_zw') || a.path === '/api/state';
    assert.deepEqual(answers.filter((a) => whole(a) && a.bytes > 100 * 1024), [], 'answers over 100 KB');
    assert.deepEqual(answers.filter((a) => !whole(a) && a.bytes > 10 * 1024), [], 'answers over 10 KB');
    // Scrolling asked for rows a few times, not over and over.
    const rows = answers.filter((a) => a.path.startsWith('/api/rows/')).length;
    assert.ok(rows >= 2 && rows < 12, `${rows} rows requests`);
    assert.deepEqual(page.errors, []);
  });
});
