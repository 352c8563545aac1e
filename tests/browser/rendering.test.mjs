// How the page draws states that no window of the post and rank category produces yet: a
// modal dialog over the frame, the hourglass, and the events its controls post. The server's
// answers are stood in for, so that the state is exactly the one under test.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {launchBrowser, newPage, settle, shot, startServer} from './harness.mjs';

const user = {username: 'clerk001', display_name: '王小红', company_num: '001', role: 'clerk', may_accept: false};

function control(name, kind, x, y, width, height, text, extra = {}) {
  return {name, kind, x, y, width, height, visible: true, enabled: true, text, ...extra};
}

const dialogState = {
  user: {username: 'clerk001', company_num: '001', rights: ['file']},
  frame: {class: 'w_rslz_frame', title: '人事管理 — 申报', menu: [{class: 'w_vorant_zw', caption: '职位职数上报'}]},
  status: '', hourglass: true, sheets: [], active_sheet: null, print_jobs: [], message: null,
  modals: [{
    class: 'w_account_set', title: '请选择提取期间', x: 0, y: 0, width: 420, height: 180, focus: null,
    controls: [
      control('st_1', 'static', 20, 30, 80, 24, '开始日期：'),
      control('em_1', 'editmask', 110, 28, 120, 24, '2009-01-01', {mask: 'yyyy-mm-dd'}),
      control('st_2', 'static', 20, 70, 80, 24, '结束日期：'),
      control('em_2', 'editmask', 110, 68, 120, 24, '', {mask: 'yyyy-mm-dd'}),
      control('pb_1', 'button', 200, 130, 90, 28, '确定(&O)'),
      control('pb_hidden', 'button', 300, 130, 90, 28, '隐藏', {visible: false}),
    ],
  }],
};

describe('drawing a state', () => {
  let server;
  let browser;
  let page;
  const posted = [];

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    page = await newPage(browser, {width: 1280, height: 800});
    await page.route('**/api/state', (route) => route.fulfill({json: {csrf: 'token', user, state: dialogState}}));
    await page.route('**/api/units', (route) => route.fulfill({json: [{company_num: '001', company_name: '江州市人事局'}]}));
    await page.route('**/api/event', (route) => {
      posted.push({body: JSON.parse(route.request().postData()), csrf: route.request().headers()['x-csrf-token']});
      route.fulfill({json: {result: {ok: true, error: '', accepted: true, pending: false, result: null},
                            state: {...dialogState, hourglass: false}}});
    });
    await page.goto(`${server.url}/`);
    await page.waitForSelector('.dialog');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  it('draws a modal window at its own size over the frame, with the frame blocked', async () => {
    const box = await page.locator('.dialog').boundingBox();
    assert.ok(Math.abs(box.width - 420) <= 2, `dialog width ${box.width}`);
    assert.equal(await page.locator('.dialog .window-title').innerText(), '请选择提取期间\n×');
    assert.equal(await page.locator('.dialog [data-name=em_1]').inputValue(), '2009-01-01');
    assert.equal(await page.locator('.dialog [data-name=pb_hidden]').count(), 0, 'invisible controls are not drawn');
    assert.ok(await page.locator('.menu-item').first().isDisabled(), 'the menu waits for the dialog');
    // The bar shows after a short delay, so that quick answers do not flash it.
    await page.locator('#busy-bar').waitFor({ state: 'visible', timeout: 5000 });
    await shot(page, '13-modal-dialog');
  });

  it('posts the dialog\'s edits and clicks with the CSRF token, in order', async () => {
    const end = page.locator('.dialog [data-name=em_2]');
    await end.click();
    await page.keyboard.type('20091231');
    assert.equal(await end.inputValue(), '2009-12-31');
    await page.locator('.dialog [data-name=pb_1]').click();
    await settle(page);
    assert.deepEqual(posted.map((p) => p.body), [
      {kind: 'text', target: 'em_2', text: '2009-12-31'},
      {kind: 'click', target: 'pb_1'},
    ]);
    assert.ok(posted.every((p) => p.csrf === 'token'));
    assert.equal(await page.locator('#busy-bar').isHidden(), true, 'the hourglass is off again');
    assert.deepEqual(page.errors, []);
  });
});
