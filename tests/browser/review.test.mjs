// The authority's review in a real browser: the clerk submits a declaration; the authority
// opens it from the inbox and returns it with a reason typed on two lines; the clerk finds it
// first in his list with the reason, corrects it and submits it again; the authority accepts
// it, after previewing what the acceptance changes in the register, and reads its history,
// every step in order; then reverses the acceptance and accepts again.

import assert from 'node:assert/strict';
import {writeFile} from 'node:fs/promises';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';

import {artifacts, cell, launchBrowser, login, newPage, settle, shot, startServer, tickSubmitted} from './harness.mjs';

const REASON_LINES = ['拟定级别与现任职时间不符，', '请核对后重新上报。'];

describe('the review of a declaration', () => {
  let server;
  let browser;
  let clerk;
  let authority;

  before(async () => {
    server = await startServer();
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
  const listRows = (page, control, scope = page) => scope.locator(`[data-name=${control}] tbody tr`);
  const submit = async () => {
    await tickSubmitted(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    assert.equal(await status(clerk), '保存成功');
  };
  const openFromInbox = async () => {
    await authority.locator('.tab', {hasText: '待审核申报'}).click();
    await settle(authority);
    await authority.click('[data-name=pb_refresh]');
    await settle(authority);
    const row = listRows(authority, 'dw_1').filter({hasText: '江州市人事局'});
    assert.equal(await row.count(), 1);
    await row.dblclick();
    await settle(authority);
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '职位职数上报');
  };

  it('the clerk files a declaration and submits it', async () => {
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await clerk.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await cell(clerk, 'dw_3', '申报人').fill('王小红');
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    await listRows(clerk, 'dw_2').filter({hasText: '杨丽华'}).dblclick();
    await settle(clerk);
    await cell(clerk, 'dw_4', '现任职时间').fill('2006-01-01');
    for (const [label, name] of [['拟定职务', '副局长'], ['拟定级别', '县处级副职']]) {
      const field = cell(clerk, 'dw_4', label);
      await field.click();
      await field.fill(name);
    }
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    // The clerk may neither return nor accept: both are greyed and say why.
    for (const [button, why] of [['pb_return', '只有人事主管部门可以退回申报！'], ['pb_approve', '只有人事主管部门可以数据入库！']]) {
      assert.equal(await clerk.locator(`[data-name=${button}]`).isDisabled(), true, button);
      assert.equal(await clerk.locator(`[data-name=${button}]`).getAttribute('title'), why);
    }
    await submit();
    assert.match(await listRows(clerk, 'dw_1').first().textContent(), /0000000001.*已上报/);
  });

  it('the authority returns it from the inbox with a reason', async () => {
    await login(authority, server.url, 'authority', 'authoritypass');
    await openFromInbox();
    const giveBack = authority.locator('[data-name=pb_return]');
    assert.equal(await giveBack.isDisabled(), false);
    await giveBack.click();
    await settle(authority);
    const dialog = authority.locator('.dialog');
    assert.equal(await dialog.getAttribute('aria-label'), '退回申报');
    // Without a reason nothing is returned.
    await dialog.locator('[data-name=pb_1]').click();
    await settle(authority);
    assert.equal(await message(authority), '请填写退回原因！');
    await answer(authority, 'ok');
    // Enter starts a new line of the reason.
    const reason = dialog.locator('textarea[aria-label=mle_reason]');
    await reason.click();
    await authority.keyboard.type(REASON_LINES[0]);
    await authority.keyboard.press('Enter');
    await authority.keyboard.type(REASON_LINES[1]);
    assert.equal(await authority.locator('.dialog').count(), 1, 'Enter does not close the dialog');
    await shot(authority, 'review-01-reason');
    await dialog.locator('[data-name=pb_1]').click();
    await settle(authority);
    assert.equal(await message(authority), '已退回该申报。');
    await answer(authority, 'ok');
    assert.equal(await authority.locator('.dialog').count(), 0);
    assert.match(await listRows(authority, 'dw_1').first().textContent(), /已退回/);
    // Returned, it can be neither accepted nor returned again until it is submitted.
    assert.equal(await authority.locator('[data-name=pb_approve]').getAttribute('title'), '该申报尚未上报，不能入库！');
    assert.equal(await authority.locator('[data-name=pb_return]').isDisabled(), true);
    await shot(authority, 'review-02-returned');
  });

  it('the clerk sees the reason, corrects the declaration and submits it again', async () => {
    await clerk.click('[data-name=pb_3]');
    await settle(clerk);
    const first = listRows(clerk, 'dw_1').first();
    await first.filter({hasText: '已退回'}).waitFor({timeout: 5000});
    assert.match(await first.textContent(), /0000000001.*已退回.*拟定级别与现任职时间不符/);
    await first.click();
    await settle(clerk);
    assert.equal(await status(clerk), `已退回：${REASON_LINES.join('\n')}`);
    await shot(clerk, 'review-03-clerk-sees-reason');
    await listRows(clerk, 'dw_2').filter({hasText: '杨丽华'}).click();
    await settle(clerk);
    const rank = cell(clerk, 'dw_4', '拟定级别');
    await rank.click();
    await rank.fill('副调研员');
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    assert.equal(await status(clerk), '保存成功');
    await submit();
    assert.match(await listRows(clerk, 'dw_1').first().textContent(), /0000000001.*已上报/);
  });

  it('the authority previews what the acceptance changes and prints the preview', async () => {
    await authority.locator('.tab.active .tab-close').click();
    await settle(authority);
    await openFromInbox();
    await authority.click('[data-name=pb_preview_accept]');
    await settle(authority);
    const dialog = authority.locator('.dialog');
    assert.match(await dialog.getAttribute('aria-label'), /^入库预览/);
    assert.match(await dialog.textContent(), /数据入库将变动 2 项登记信息/);
    const rows = await listRows(authority, 'dw_1', dialog).allTextContents();
    assert.deepEqual(rows.map((r) => /级别|职务/.exec(r)[0]), ['级别', '职务']);
    assert.match(rows[0], /0010007.*杨丽华.*人员登记.*级别.*13.*12/);
    assert.match(rows[1], /职务.*0131.*0111/);
    await shot(authority, 'review-04-accept-preview');
    const popup = authority.context().waitForEvent('page', {timeout: 10000}).catch(() => null);
    await dialog.locator('[data-name=pb_print]').click();
    await settle(authority);
    const link = authority.locator('.notice-link');
    await link.waitFor();
    const pdf = await authority.request.get(`${server.url}${await link.getAttribute('href')}`);
    const body = await pdf.body();
    assert.equal(body.subarray(0, 5).toString(), '%PDF-');
    await writeFile(path.join(artifacts, 'review-05-accept-preview.pdf'), body);
    const opened = await popup;
    if (opened) await opened.close();
    await authority.locator('.dialog [data-name=pb_close]').click();
    await settle(authority);
  });

  it('the authority accepts it and reads its history', async () => {
    await authority.click('[data-name=pb_approve]');
    await settle(authority);
    assert.equal(await message(authority), '确定要将本次申报数据入库吗？');
    await answer(authority, 'yes');
    assert.equal(await message(authority), '数据入库成功！');
    await answer(authority, 'ok');
    await authority.click('[data-name=pb_history]');
    await settle(authority);
    const dialog = authority.locator('.dialog');
    const steps = listRows(authority, 'dw_1', dialog);
    const texts = await steps.allTextContents();
    assert.deepEqual(texts.map((t) => /创建|保存|重新上报|上报|退回|入库/.exec(t)[0]),
                     ['入库', '重新上报', '保存', '退回', '上报', '保存', '创建']);
    assert.match(texts[3], /拟定级别与现任职时间不符/);
    await shot(authority, 'review-06-history');
    await dialog.locator('[data-name=pb_close]').click();
    await settle(authority);
    assert.equal(await authority.locator('.dialog').count(), 0);
  });

  it('the authority reverses the acceptance with a reason and accepts again', async () => {
    await authority.click('[data-name=pb_reverse]');
    await settle(authority);
    const dialog = authority.locator('.dialog');
    assert.equal(await dialog.getAttribute('aria-label'), '撤销入库');
    await dialog.locator('textarea[aria-label=mle_reason]').fill('级别核定有误，撤销后重新入库');
    await dialog.locator('[data-name=pb_1]').click();
    await settle(authority);
    assert.equal(await message(authority), '已撤销入库。');
    await answer(authority, 'ok');
    assert.match(await listRows(authority, 'dw_1').first().textContent(), /已上报/);
    assert.equal(await status(authority), '已撤销入库');
    assert.equal(await authority.locator('[data-name=pb_reverse]').getAttribute('title'), '该申报尚未入库，不能撤销！');
    await shot(authority, 'review-07-reversed');
    await authority.click('[data-name=pb_approve]');
    await settle(authority);
    await answer(authority, 'yes');
    assert.equal(await message(authority), '数据入库成功！');
    await answer(authority, 'ok');
    assert.match(await listRows(authority, 'dw_1').first().textContent(), /已入库/);
    assert.deepEqual(clerk.errors.concat(authority.errors), []);
  });

  it('the authority reads one worker\'s changes from the register\'s side, newest first', async () => {
    await authority.locator('.menu-item', {hasText: '人员变动记录'}).click();
    await settle(authority);
    await authority.locator('input[aria-label=sle_worker]').fill('0010007');
    await authority.click('[data-name=pb_query]');
    await settle(authority);
    const rows = await listRows(authority, 'dw_1').allTextContents();
    // Accepted, reversed, accepted again: each acceptance changes post and rank.
    assert.deepEqual(rows.map((t) => /撤销入库|数据入库/.exec(t)[0]),
                     ['数据入库', '数据入库', '撤销入库', '撤销入库', '数据入库', '数据入库']);
    assert.match(rows[0], /职位职数上报 0000000001/);
    assert.match(await authority.locator('[data-name=st_count]').textContent(), /0010007 杨丽华：6 项变动/);
    await shot(authority, 'review-08-worker-changes');
    assert.deepEqual(authority.errors, []);
  });
});
