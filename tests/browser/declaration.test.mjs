// A clerk files a post and rank declaration in the browser: logs in, opens the category from
// the menu, creates and saves a declaration, takes a worker into it, meets the save checks,
// fills the drop-downs by typing, deletes the worker after the confirmation, and prints the
// approval form from its preview.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {cell, launchBrowser, login, newPage, settle, shot, startServer} from './harness.mjs';

describe('a clerk files a post and rank declaration', () => {
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

  const status = () => page.locator('.status-text').textContent();
  const message = () => page.locator('.msgbox-text').textContent();

  it('logs in and sees the categories', async () => {
    await page.goto(`${server.url}/`);
    await page.waitForSelector('#username');
    await shot(page, '01-login');
    await page.fill('#username', 'clerk001');
    await page.fill('#password', 'wrong password');
    await page.click('.login-submit');
    await page.waitForSelector('.login-error:not([hidden])');
    assert.equal(await page.locator('.login-error').textContent(), '用户名或密码错误');
    await login(page, server.url, 'clerk001', 'clerk001pass');
    assert.equal(await page.locator('.who-name').textContent(), '王小红');
    // Every category is on the menu; this test files the post and rank one.
    assert.ok((await page.locator('.menu-item').allTextContents()).includes('职位职数上报'));
    await shot(page, '02-home');
  });

  it('opens 职位职数上报 from the menu', async () => {
    await page.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '职位职数上报');
    // A clerk sees his own unit, fixed, and cannot accept.
    assert.match(await page.locator('[data-name=uo_1]').textContent(), /001 江州市人事局/);
    assert.ok(await page.locator('[data-name=pb_approve]').isDisabled());
    assert.equal(await page.locator('[data-name=dw_2] tbody tr').count(), 12);
  });

  it('creates and saves a declaration', async () => {
    await page.click('[data-name=pb_16]');
    await settle(page);
    assert.equal(await cell(page, 'dw_3', '单位名称').inputValue(), '江州市人事局');
    await cell(page, 'dw_3', '申报人').fill('王小红');
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await status(), '保存成功');
    const declarations = page.locator('[data-name=dw_1] tbody tr');
    assert.equal(await declarations.count(), 1);
    assert.match(await declarations.first().textContent(), /0000000001.*王小红/);
    assert.equal(await cell(page, 'dw_3', '申报人').inputValue(), '王小红');
    await shot(page, '03-declaration-saved');
  });

  it('adds a worker by double-clicking him in the worker list', async () => {
    await page.locator('[data-name=dw_2] tbody tr', {hasText: '赵志刚'}).dblclick();
    await settle(page);
    assert.equal(await cell(page, 'dw_4', '姓名').inputValue(), '赵志刚');
    // Drop-downs show names, not codes.
    assert.equal(await cell(page, 'dw_4', '性别').inputValue(), '男');
    assert.equal(await cell(page, 'dw_4', '现级别').inputValue(), '调研员');
    assert.equal(await cell(page, 'dw_4', '出生年月').inputValue(), '1960-09-25');
    await shot(page, '04-worker-added');
  });

  it('refuses to save the worker without 原任职时间 and puts the cursor there', async () => {
    await page.click('[data-name=pb_2]');
    await settle(page);
    assert.equal(await message(), '原任职时间不能为空！');
    assert.equal(await page.locator('.msgbox-title').textContent(), '提示');
    await shot(page, '05-save-refused');
    await page.click('.msgbox [data-answer=ok]');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), '现任职时间');
  });

  it('narrows the proposed post as the user types and stores the chosen code', async () => {
    // The date mask puts the dashes in.
    await page.keyboard.type('20050301');
    const date = cell(page, 'dw_4', '现任职时间');
    assert.equal(await date.inputValue(), '2005-03-01');
    // Digits typed over the month stay where they are typed.
    for (const month of ['04', '03']) {
      await date.evaluate((el) => el.setSelectionRange(5, 7));
      await page.keyboard.type(month);
      assert.equal(await date.inputValue(), `2005-${month}-01`);
    }
    const post = cell(page, 'dw_4', '拟定职务');
    await post.click();
    await settle(page);
    const before = await page.locator('.dd-popup .dd-item').count();
    await post.pressSequentially('副');
    await settle(page);
    const names = await page.locator('.dd-popup .dd-name').allTextContents();
    assert.ok(names.length > 0 && names.length < before, `narrowed from ${before} to ${names.length}`);
    assert.ok(names.every((n) => n.includes('副')), names.join(','));
    await shot(page, '06-dropdown-narrowed');
    await page.locator('.dd-popup .dd-item', {hasText: '副局长'}).click();
    await settle(page);
    assert.equal(await post.inputValue(), '副局长');
    // The rank: part of its name typed and left with Tab, the entry the list narrowed to is taken.
    const rank = cell(page, 'dw_4', '拟定级别');
    await rank.click();
    await rank.pressSequentially('县处级副');
    await settle(page);
    await page.keyboard.press('Tab');
    await settle(page);
    assert.equal(await rank.inputValue(), '县处级副职');
    await page.click('[data-name=pb_2]');
    await settle(page);
    // The box's text is read only when there is a box: reading a missing one waits 30 s.
    const boxes = await page.locator('.msgbox').count();
    assert.equal(boxes, 0, boxes ? await page.locator('.msgbox-text').first().textContent() : '');
    assert.equal(await status(), '保存成功');
    assert.match(await page.locator('[data-name=dw_2] tbody tr', {hasText: '赵志刚'}).textContent(), /申报/);
    await shot(page, '07-worker-saved');
  });

  it('refuses a post code that is not in the list', async () => {
    const post = cell(page, 'dw_4', '拟定职务');
    await post.click();
    await post.fill('不存在的职务');
    await page.keyboard.press('Tab');
    await settle(page);
    assert.ok(await post.evaluate((el) => el.closest('.dd').classList.contains('rejected') ||
                                          el.classList.contains('rejected')));
    assert.equal(await post.inputValue(), '副局长', 'the cell keeps its stored value');
  });

  it('asks before deleting the worker and deletes him on 是', async () => {
    await page.click('[data-name=pb_del]');
    await settle(page);
    assert.equal(await message(), '确定要删除该人员吗？');
    assert.deepEqual(await page.locator('.msgbox-buttons .btn').allTextContents(), ['是(Y)', '否(N)']);
    await shot(page, '08-confirm-delete');
    // Escape does not answer a Yes/No question: "否" would drop work unasked.
    await page.keyboard.press('Escape');
    await settle(page);
    assert.equal(await message(), '确定要删除该人员吗？');
    await page.click('.msgbox [data-answer=yes]');
    await settle(page);
    assert.equal(await status(), '删除成功');
    assert.doesNotMatch(await page.locator('[data-name=dw_2] tbody tr', {hasText: '赵志刚'}).textContent(), /申报/);
  });

  it('shows the approval form in print preview and prints it as a PDF', async () => {
    await page.click('[data-name=pb_6]');
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '职务职数调整审批表');
    const image = page.locator('[data-name=dw_1] img.preview-page').first();
    await image.waitFor();
    await page.waitForFunction(() => {
      const img = document.querySelector('img.preview-page');
      return img && img.complete && img.naturalWidth > 0;
    });
    assert.ok(await image.evaluate((img) => img.naturalWidth >= 794));
    await shot(page, '09-print-preview');

    const popup = page.context().waitForEvent('page', {timeout: 10000}).catch(() => null);
    await page.click('[data-name=pb_2]');
    await settle(page);
    const link = page.locator('.notice-link');
    await link.waitFor();
    const href = await link.getAttribute('href');
    assert.match(href, /^\/api\/jobs\/\d+\.pdf$/);
    const pdf = await page.request.get(`${server.url}${href}`);
    assert.equal(pdf.status(), 200);
    assert.equal((await pdf.body()).subarray(0, 5).toString(), '%PDF-');
    await shot(page, '10-printed');
    const opened = await popup;
    if (opened) await opened.close();

    await page.click('[data-name=pb_1]');
    await settle(page);
    assert.equal(await page.locator('.tab.active .tab-title').textContent(), '职位职数上报');
    assert.deepEqual(page.errors, []);
  });
});
