// A browser whose server went away is sent by the proxy to another server, which does not know
// its session: the next request takes it to the login page with the words for that, not those
// of an expired login. (The session cookie here is made to be another server's.)

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {launchBrowser, login, newPage, startServer} from './harness.mjs';

describe('server gone', () => {
  let server;
  let browser;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  it('tells the browser its server restarted and lets it log in again', async () => {
    const page = await newPage(browser);
    await login(page, server.url, 'clerk001', 'clerk001pass');
    const context = page.context();
    const [session] = (await context.cookies()).filter((c) => c.name === 'shenbao_session');
    await context.addCookies([{...session, value: `gone0000.${session.value.split('.')[1]}`}]);
    await page.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await page.waitForSelector('.login-submit');
    assert.equal(await page.locator('.login-error').textContent(), '服务器已重新启动，请重新登录。');

    // An expired login of this server keeps its own words.
    await login(page, server.url, 'clerk001', 'clerk001pass');
    const [again] = (await context.cookies()).filter((c) => c.name === 'shenbao_session');
    await context.addCookies([{...again, value: `${again.value.split('.')[0]}.unknownunknown`}]);
    await page.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await page.waitForSelector('.login-submit');
    assert.equal(await page.locator('.login-error').textContent(), '未登录或登录已过期，请重新登录');
  });
});
