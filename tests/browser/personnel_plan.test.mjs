// A clerk files a personnel plan in the browser from start to finish — the planned counts,
// two planned persons with their code lists, the staffing numbers in their dialog, the printed
// plan in preview and as a PDF — and the authority accepts it into the register.

import assert from 'node:assert/strict';
import {writeFile} from 'node:fs/promises';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';

import {acceptFirstListed, artifacts, cell, launchBrowser, login, newPage, settle, shot, startServer, tickSubmitted} from './harness.mjs';

describe('a personnel plan is filed and accepted', () => {
  let server;
  let browser;
  let page;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    page = await newPage(browser);
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const message = () => page.locator('.msgbox-text').textContent();
  const pick = async (label, name) => {
    const input = cell(page, 'dw_4', label);
    await input.click();
    await settle(page);
    await page.locator('.dd-popup .dd-item', {hasText: name}).first().click();
    await settle(page);
    assert.equal(await input.inputValue(), name);
  };
  const addPerson = async (name, sex, birthday, status) => {
    await page.click('[data-name=pb_6]');
    await settle(page);
    await cell(page, 'dw_4', '姓名').fill(name);
    await page.keyboard.press('Tab');
    await settle(page);
    await pick('性别', sex);
    const date = cell(page, 'dw_4', '出生年月');
    await date.click();
    await page.keyboard.type(birthday);
    await page.keyboard.press('Tab');
    await settle(page);
    await pick('人员身份', status);
    await pick('占编性质', '行政编制');
    await page.click('[data-name=pb_2]');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
  };

  it('creates the plan with its planned counts', async () => {
    await login(page, server.url, 'clerk001', 'clerk001pass');
    await page.locator('.menu-item', {hasText: '增人计划'}).click();
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '增人计划');
    await page.click('[data-name=pb_16]');
    await settle(page);
    assert.equal(await cell(page, 'dw_3', '单位名称').inputValue(), '江州市人事局');
    assert.equal(await cell(page, 'dw_3', '单位性质').inputValue(), '行政机关');
    await cell(page, 'dw_3', '申报人').fill('王小红');
    await cell(page, 'dw_3', '公务员').fill('2');
    await cell(page, 'dw_3', '军转干部').fill('1');
    await page.keyboard.press('Tab');
    await settle(page);
    await tickSubmitted(page);
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await page.locator('.status-text').textContent(), '保存成功');
    await shot(page, 'rsjh-01-plan-saved');
  });

  it('adds two planned persons with provisional numbers', async () => {
    await addPerson('张三', '男', '19800504', '高校毕业生');
    await addPerson('李四', '女', '19851130', '军队转业干部');
    const people = page.locator('[data-name=dw_2] tbody tr');
    assert.equal(await people.count(), 2);
    assert.match(await people.nth(0).textContent(), /9000001.*张三.*申报/);
    assert.match(await people.nth(1).textContent(), /9000002.*李四.*申报/);
    await shot(page, 'rsjh-02-persons');
  });

  it('maintains the staffing numbers in their dialog', async () => {
    await page.click('[data-name=pb_8]');
    await settle(page);
    const dialog = page.locator('.dialog');
    assert.equal(await dialog.getAttribute('aria-label'), '编制情况申报');
    await dialog.locator('[aria-label=bz_qe_num]').fill('2');
    await dialog.locator('[aria-label=ry_xz_num]').fill('11');
    await page.keyboard.press('Tab');
    await settle(page);
    assert.match(await dialog.textContent(), /17/);  // 12 + 3 + 2 posts in all
    await shot(page, 'rsjh-03-staffing');
    await dialog.locator('[data-name=pb_2]').click();
    await settle(page);
    assert.equal(await message(), '维护编制数成功！');
    await page.click('.msgbox [data-answer=ok]');
    await settle(page);
    await dialog.locator('[data-name=pb_1]').click();
    await settle(page);
    assert.equal(await page.locator('.dialog').count(), 0);
  });

  it('shows the printed plan in preview and prints it as a PDF', async () => {
    await page.click('[data-name=pb_7]');
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '增人计划申报打印');
    await page.waitForFunction(() => {
      const img = document.querySelector('img.preview-page');
      return img && img.complete && img.naturalWidth > 0;
    });
    const image = page.locator('[data-name=dw_1] img.preview-page').first();
    assert.ok(await image.evaluate((img) => img.naturalWidth >= 794));
    // The preview page itself, kept to be looked at.
    const src = await image.getAttribute('src');
    const png = await page.request.get(new URL(src, server.url).href);
    assert.equal(png.status(), 200);
    await writeFile(path.join(artifacts, 'rsjh-04-preview-page.png'), await png.body());
    await shot(page, 'rsjh-04-print-preview');
    const popup = page.context().waitForEvent('page', {timeout: 10000}).catch(() => null);
    await page.click('[data-name=pb_2]');
    await settle(page);
    const link = page.locator('.notice-link');
    await link.waitFor();
    const pdf = await page.request.get(`${server.url}${await link.getAttribute('href')}`);
    assert.equal((await pdf.body()).subarray(0, 5).toString(), '%PDF-');
    const opened = await popup;
    if (opened) await opened.close();
    await page.click('[data-name=pb_1]');
    await settle(page);
    assert.deepEqual(page.errors, []);
  });

  it('is accepted by the authority', async () => {
    const authority = await newPage(browser);
    await login(authority, server.url, 'authority', 'authoritypass');
    await authority.locator('.menu-item', {hasText: '增人计划'}).click();
    await settle(authority);
    await authority.locator('select[data-key$="/uo_1"]').selectOption('001');
    await settle(authority);
    // The staffing figures give 11 of the 12 administrative posts as held, and the plan adds two.
    await acceptFirstListed(authority, {exceeded: '行政编制：核定12，入库后13'});
    assert.match(await server.log(), /authority - 127\.0\.0\.1 approve rs_w00034_com pkid=0000000001 unit=001: accepted/);
    assert.deepEqual(authority.errors, []);
  });
});
