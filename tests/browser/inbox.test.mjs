// The authority's inbox in the browser: his menu and home count what waits in each category,
// as the server counts it, and the unit filter takes pinyin initials ("qhx" for 清河县…),
// which the browser turns into the matching units before the server filters the whole list.

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {cell, launchBrowser, login, newPage, sessionState, settle, shot, startServer} from './harness.mjs';

const run = promisify(execFile);

// Two more units; waiting: post and rank 001, 003 and 004, personnel plan 004 (returned once and
// resubmitted), training 002. Not waiting: a draft (post and rank 002) and an accepted one
// (training 001).
const SETUP = `
insert into rs_info_company (company_num, company_name, dept, company_property) values
  ('003', '江州市审计局', '江州市人民政府', '1'), ('004', '清河县教育局', '清河县人民政府', '1');
insert into rs_w00031_com (pkid, company_num, state, sb_date, sbr) values
  ('0000000001', '001', 1, '2009-06-10 00:00:00', '王小红'),
  ('0000000002', '002', 0, '2009-06-11 00:00:00', '李明'),
  ('0000000003', '003', 1, '2009-06-12 00:00:00', '赵强'),
  ('0000000004', '004', 1, '2009-06-13 00:00:00', '钱进');
insert into rs_w00034_com (pkid, company_num, state, sb_date, sbr) values ('0000000001', '004', 1, '2009-06-01 00:00:00', '钱进');
insert into sb_history (table_name, pkid, company_num, step, username, at) values
  ('rs_w00034_com', '0000000001', '004', 'submitted', 'clerk004', '2009-06-01 09:00:00'),
  ('rs_w00034_com', '0000000001', '004', 'returned', 'authority', '2009-06-02 09:00:00'),
  ('rs_w00034_com', '0000000001', '004', 'resubmitted', 'clerk004', '2009-06-14 09:00:00');
insert into rs_w00028_com (pkid, company_num, state, sb_date, sbr) values
  ('0000000001', '001', 1, '2009-06-03 00:00:00', '王小红'),
  ('0000000002', '002', 1, '2009-06-04 00:00:00', '李明');
insert into rs_sb_approval (table_name, pkid, company_num, approved_at, approved_by) values
  ('rs_w00028_com', '0000000001', '001', '2009-06-05 00:00:00', 'authority');
`;

describe('the authority\'s inbox: counts at home, filtered by pinyin initials', () => {
  let server;
  let browser;
  let page;

  before(async () => {
    server = await startServer();
    await run('sqlite3', [server.db, SETUP]);
    browser = await launchBrowser();
    page = await newPage(browser);
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const rows = () => page.locator('[data-name=dw_1] tbody tr');
  const menuNote = (caption) => page.locator('.menu-item', {hasText: caption}).locator('.menu-note');

  it('the menu and the home tiles count the declarations waiting in each category', async () => {
    await login(page, server.url, 'authority', 'authoritypass');
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '待审核申报');
    assert.equal(await rows().count(), 5);
    // The longest waiting first: training 002 (the 4th), then post and rank 001 (the 10th).
    assert.match(await rows().nth(0).textContent(), /002.*江州市财政局.*公务员培训/);
    assert.match(await rows().nth(1).textContent(), /001.*江州市人事局.*职位职数上报/);
    // The personnel plan counts from its resubmission on the 14th, and was returned once.
    assert.match(await rows().nth(4).textContent(), /004.*清河县教育局.*增人计划.*2009-06-14 09:00.*1.*钱进/);
    for (const [caption, note] of [['职位职数上报', '3 件待审核'], ['增人计划', '1 件待审核'],
                                   ['公务员培训', '1 件待审核'], ['待审核申报', '5 件待审核']]) {
      assert.equal(await menuNote(caption).textContent(), note, caption);
    }
    assert.equal(await menuNote('公务员辞职').count(), 0);

    await page.locator('.tab.active .tab-close').click();
    await settle(page);
    const tile = (caption) => page.locator('.tile', {hasText: caption});
    assert.equal(await tile('职位职数上报').locator('.tile-note').textContent(), '3 件待审核');
    assert.equal(await tile('增人计划').locator('.tile-note').textContent(), '1 件待审核');
    assert.equal(await tile('公务员辞职').locator('.tile-note').count(), 0);
    await shot(page, 'inbox-01-home-counts');
    assert.deepEqual(page.errors, []);
  });

  it('the unit filter takes pinyin initials and narrows the whole list, and the reset clears it', async () => {
    await page.locator('.tile', {hasText: '待审核申报'}).click();
    await settle(page);
    const unit = cell(page, 'dw_filter', '单位');
    await unit.fill('qhx');
    await unit.press('Enter');
    await settle(page);
    assert.equal(await rows().count(), 2);
    for (let i = 0; i < 2; i++) assert.match(await rows().nth(i).textContent(), /004.*清河县教育局/);
    await shot(page, 'inbox-02-initials-qhx');
    // Filters are no changes to save: leaving with them set asks nothing.
    const {state} = await sessionState(page);
    const filter = state.sheets[state.active_sheet].controls.find((c) => c.name === 'dw_filter');
    assert.equal(filter.form.modified, false);

    // Initials of a part of the name: 审计局 of 003.
    await unit.fill('sjj');
    await unit.press('Enter');
    await settle(page);
    assert.equal(await rows().count(), 1);
    assert.match(await rows().first().textContent(), /003.*江州市审计局.*职位职数上报/);

    // Characters of the name, as typed.
    await unit.fill('江州');
    await unit.press('Enter');
    await settle(page);
    assert.equal(await rows().count(), 3);
    const days = cell(page, 'dw_filter', '等待天数≥');
    await days.fill('1');
    await days.press('Enter');
    await settle(page);
    assert.equal(await rows().count(), 3);
    assert.equal((await sessionState(page)).state.sheets[0].controls.find((c) => c.name === 'dw_filter').form.modified, false);

    await page.click('[data-name=pb_reset]');
    await settle(page);
    assert.equal(await rows().count(), 5);
    assert.equal(await unit.inputValue(), '');
    assert.deepEqual(page.errors, []);
  });

  it('a declaration opened from the filtered list and accepted no longer counts as waiting', async () => {
    const unit = cell(page, 'dw_filter', '单位');
    await unit.fill('sjj');
    await unit.press('Enter');
    await settle(page);
    await rows().first().dblclick();
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '职位职数上报');
    assert.equal(await cell(page, 'dw_3', '申报人').inputValue(), '赵强');
    await page.click('[data-name=pb_approve]');
    await settle(page);
    await page.click('.msgbox [data-answer=yes]');
    await settle(page);
    assert.equal(await page.locator('.msgbox-text').textContent(), '数据入库成功！');
    await page.click('.msgbox [data-answer=ok]');
    await settle(page);
    // Back at the inbox, the menu counts again.
    await page.locator('.tab.active .tab-close').click();
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '待审核申报');
    assert.equal(await menuNote('职位职数上报').textContent(), '2 件待审核');
    assert.equal(await menuNote('待审核申报').textContent(), '4 件待审核');
    await page.click('[data-name=pb_refresh]');
    await settle(page);
    assert.equal(await rows().count(), 0);
    assert.deepEqual(page.errors, []);
  });
});
