// What a clerk may not do, whatever his page sends: reach another unit's declaration, accept
// ("数据入库"), or post without the session's CSRF token. Each refusal leaves the state as it
// was and is logged. The authority chooses the unit, sees its declarations and accepts one.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {cell, launchBrowser, login, newPage, postEvent, sessionState, settle, shot, startServer, tickSubmitted} from './harness.mjs';

describe('rights', () => {
  let server;
  let browser;
  let clerk;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await clerk.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    // A declaration of unit 001 with one worker, submitted, ready to be accepted.
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await tickSubmitted(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    await clerk.locator('[data-name=dw_2] tbody tr', {hasText: '杨丽华'}).click({button: 'right'});
    await clerk.locator('.context-menu button', {hasText: '加入本次申报'}).click();
    await settle(clerk);
    await cell(clerk, 'dw_4', '现任职时间').fill('2006-01-01');
    const post = cell(clerk, 'dw_4', '拟定职务');
    await post.click();
    await post.fill('副局长');
    const rank = cell(clerk, 'dw_4', '拟定级别');
    await rank.click();
    await rank.fill('县处级副职');
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    assert.equal(await clerk.locator('.status-text').textContent(), '保存成功');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const refusals = [
    {name: 'another unit\'s declaration', event: {kind: 'open', target: 'w_zwzs_print', args: ['0000000001', '002']},
     status: 403, logged: /refused open w_zwzs_print/},
    {name: 'choosing another unit', event: {kind: 'text', target: 'uo_1', text: '002'},
     status: 403, logged: /refused text uo_1/},
    {name: 'a window function', event: {kind: 'call', target: 'uf_approve', args: ['1']},
     status: 400, logged: /bad-request/},
    {name: 'no CSRF token', event: {kind: 'click', target: 'pb_16'}, csrf: false,
     status: 403, logged: /CSRF/},
  ];
  for (const r of refusals) {
    it(`refuses ${r.name} and changes nothing`, async () => {
      const before = (await sessionState(clerk)).state;
      const answer = await postEvent(clerk, r.event, {csrf: r.csrf !== false});
      assert.equal(answer.status, r.status, JSON.stringify(answer.body));
      assert.ok(answer.body && answer.body.error, 'the refusal says why');
      assert.equal(answer.body.state, undefined, 'a refusal carries no state');
      assert.deepEqual((await sessionState(clerk)).state, before);
      assert.match(await server.log(), r.logged);
    });
  }

  it('shows the clerk the acceptance button disabled', async () => {
    const button = clerk.locator('[data-name=pb_approve]');
    assert.ok(await button.isDisabled());
    assert.equal(await button.getAttribute('title'), '只有人事主管部门可以数据入库！');
    await shot(clerk, '11-clerk-cannot-accept');
    // A hand-made click is answered by the window, before any question, and accepts nothing.
    const forced = await postEvent(clerk, {kind: 'click', target: 'pb_approve'});
    assert.equal(forced.status, 200);
    assert.equal(forced.body.state.message.text, '只有人事主管部门可以数据入库！');
    await postEvent(clerk, {kind: 'answer', target: 'ok'});
    await clerk.reload();
    await settle(clerk);
  });

  it('lets the authority choose the unit and accept the declaration', async () => {
    const authority = await newPage(browser);
    await login(authority, server.url, 'authority', 'authoritypass');
    await authority.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(authority);
    const units = authority.locator('select[data-key$="/uo_1"]');
    assert.deepEqual(await units.locator('option').allTextContents(),
                     ['— 请选择单位 —', '001 江州市人事局', '002 江州市财政局']);
    await units.selectOption('001');
    await settle(authority);
    const declarations = authority.locator('[data-name=dw_1] tbody tr');
    assert.equal(await declarations.count(), 1);
    await declarations.first().click();
    await settle(authority);
    assert.ok(await authority.locator('[data-name=pb_approve]').isEnabled());
    // The authority reviews and never files: every button that would change the declaration
    // is off, and says why.
    for (const name of ['pb_16', 'pb_5', 'pb_d', 'pb_2', 'pb_del']) {
      const button = authority.locator(`[data-name=${name}]`);
      assert.ok(await button.isDisabled(), name);
      assert.equal(await button.getAttribute('title'), '人事主管部门不能修改单位申报！', name);
    }
    await authority.click('[data-name=pb_approve]');
    await settle(authority);
    assert.equal(await authority.locator('.msgbox-text').textContent(), '确定要将本次申报数据入库吗？');
    await shot(authority, '12-authority-confirm');
    await authority.click('.msgbox [data-answer=yes]');
    await settle(authority);
    assert.equal(await authority.locator('.msgbox-text').textContent(), '数据入库成功！');
    await authority.click('.msgbox [data-answer=ok]');
    await settle(authority);
    const log = await server.log();
    assert.match(log, /authority - 127\.0\.0\.1 approve-click click pb_approve in w_vorant_zw/);
    assert.match(log, /authority - 127\.0\.0\.1 approve rs_w00031_com pkid=0000000001 unit=001: accepted/);
    const accept = authority.locator('[data-name=pb_approve]');
    assert.ok(await accept.isDisabled());
    assert.equal(await accept.getAttribute('title'), '该申报已入库，不能重复入库！');
    assert.deepEqual(authority.errors, []);
    await authority.context().close();
  });

  it('shows the clerk the buttons that would change his accepted declaration disabled', async () => {
    await clerk.click('[data-name=pb_3]');
    await settle(clerk);
    await clerk.locator('[data-name=dw_1] tbody tr').first().click();
    await settle(clerk);
    const locked = {pb_5: '该申报已入库，不能修改！', pb_2: '该申报已入库，不能修改！',
                    pb_d: '该申报已入库，不能删除！', pb_del: '该申报已入库，不能删除！'};
    for (const [name, why] of Object.entries(locked)) {
      const button = clerk.locator(`[data-name=${name}]`);
      assert.ok(await button.isDisabled(), name);
      assert.equal(await button.getAttribute('title'), why, name);
    }
    // A new declaration is still his to make.
    assert.ok(await clerk.locator('[data-name=pb_16]').isEnabled());
    await shot(clerk, '13-clerk-accepted-locked');
    assert.deepEqual(clerk.errors, []);
  });

  it('asks before a logout would drop unsaved changes, then ends the session', async () => {
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    const asked = [];
    clerk.once('dialog', async (dialog) => {
      asked.push(dialog.message());
      await dialog.dismiss();
    });
    await clerk.click('.topbar .btn-ghost');
    await settle(clerk);
    assert.match(asked.join(), /尚未保存的修改/);
    assert.equal((await clerk.request.get(`${server.url}/api/state`)).status(), 200, 'still logged in');
    clerk.once('dialog', (dialog) => dialog.accept());
    await clerk.click('.topbar .btn-ghost');
    await clerk.waitForSelector('#username');
    assert.equal((await clerk.request.get(`${server.url}/api/state`)).status(), 401);
    assert.deepEqual(clerk.errors, []);
  });
});
