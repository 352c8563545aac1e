// A clerk files a dismissal and a discipline declaration in the browser, tallies the
// punishments, and the personnel authority accepts both: the dismissed and the expelled
// worker are no longer listed as in service.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {acceptFirstListed, cell, launchBrowser, login, newPage, openCategory, settle, shot, startServer, tickSubmitted} from './harness.mjs';

describe('a dismissal and a discipline declaration, filed, tallied and accepted', () => {
  let server;
  let browser;
  let clerk;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk002', 'clerk002pass');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const status = (page) => page.locator('.status-text').textContent();
  const workerRow = (page, name) => page.locator('[data-name=dw_2] tbody tr', {hasText: name});

  async function newDeclaration(page) {
    await page.click('[data-name=pb_16]');
    await settle(page);
    await cell(page, 'dw_3', '申报人').fill('李明');
    await tickSubmitted(page);
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await status(page), '保存成功');
  }

  async function addWorker(page, name) {
    await workerRow(page, name).dblclick();
    await settle(page);
    assert.equal(await cell(page, 'dw_4', '姓名').inputValue(), name);
  }

  async function choose(page, label, typed, item) {
    const field = cell(page, 'dw_4', label);
    await field.click();
    await field.pressSequentially(typed);
    await settle(page);
    await page.locator('.dd-popup .dd-item', {hasText: item}).first().click();
    await settle(page);
    return field;
  }

  async function saveWorker(page) {
    await page.click('[data-name=pb_2]');
    await settle(page);
    if (await page.locator('.msgbox').count() > 0) assert.fail(await page.locator('.msgbox-text').textContent());
    assert.equal(await status(page), '保存成功');
  }

  it('files a dismissal with its reason and the date preset to today', async () => {
    await openCategory(clerk, '公务员辞退');
    await newDeclaration(clerk);
    await addWorker(clerk, '唐伟');
    assert.match(await cell(clerk, 'dw_4', '辞退时间').inputValue(), /^\d{4}-\d{2}-\d{2}$/);
    assert.equal(await cell(clerk, 'dw_4', '职务名称').inputValue(), '副主任科员');
    const reason = await choose(clerk, '辞退原因', '旷工', '旷工或者无正当理由逾期不归连续超过十五天');
    assert.equal(await reason.inputValue(), '旷工或者无正当理由逾期不归连续超过十五天');
    await saveWorker(clerk);
    assert.match(await workerRow(clerk, '唐伟').textContent(), /申报/);
    await shot(clerk, 'departure-01-dismissal-filed');
  });

  it('files a discipline declaration and tallies it', async () => {
    await openCategory(clerk, '公务员惩戒');
    await newDeclaration(clerk);
    for (const [name, typed, punishment, category] of [['罗敏', '开除', '开除（政纪处分）', '政纪处分'],
                                                       ['宋佳', '党纪', '警告（党纪处分）', '党纪处分']]) {
      await addWorker(clerk, name);
      await cell(clerk, 'dw_4', '处分时间').click();
      await clerk.keyboard.type('20090510');
      const chosen = await choose(clerk, '处分名称', typed, punishment);
      assert.equal(await chosen.inputValue(), punishment);
      assert.equal(await cell(clerk, 'dw_4', '处分类别').inputValue(), category);
      await saveWorker(clerk);
    }
    await clerk.click('[data-name=pb_6]');
    await settle(clerk);
    assert.equal(await status(clerk), '保存成功');
    assert.equal(await cell(clerk, 'dw_3', '开除').inputValue(), '1');
    assert.equal(await cell(clerk, 'dw_3', '严重警告').inputValue(), '0');
    assert.equal(await cell(clerk, 'dw_3', '实有人数').inputValue(), '11');
    await shot(clerk, 'departure-02-discipline-tallied');
    assert.deepEqual(clerk.errors, []);
  });

  it('lets the authority accept both, after which the workers who left are not listed', async () => {
    const authority = await newPage(browser);
    await login(authority, server.url, 'authority', 'authoritypass');
    for (const [caption, left, stays] of [['公务员辞退', '唐伟', '宋佳'], ['公务员惩戒', '罗敏', '宋佳']]) {
      await openCategory(authority, caption);
      await authority.locator('select[data-key$="/uo_1"]').selectOption('002');
      await settle(authority);
      assert.equal(await workerRow(authority, left).count(), 1);
      await acceptFirstListed(authority);
      await authority.click('[data-name=pb_3]');
      await settle(authority);
      assert.equal(await workerRow(authority, left).count(), 0, `${left} has left`);
      assert.equal(await workerRow(authority, stays).count(), 1);
    }
    await shot(authority, 'departure-03-accepted');
    const log = await server.log();
    assert.match(log, /approve rs_w00044_com pkid=0000000001 unit=002: accepted/);
    assert.match(log, /approve rs_w00029_com pkid=0000000001 unit=002: accepted/);
    assert.deepEqual(authority.errors, []);
    await authority.context().close();
  });
});
