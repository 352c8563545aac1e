// Guessing at a clerk's password from twenty addresses does not keep him out: his own browser,
// which has logged in as him before, logs in at once while the guessing goes on; a browser that
// never has is told to wait, in words he reads.

import assert from 'node:assert/strict';
import {after, before, describe, it} from 'node:test';

import {launchBrowser, login, newPage, settle, startServer} from './harness.mjs';

describe('login guard', () => {
  let server;
  let browser;

  before(async () => {
    // The guesser's requests come through the proxy, each naming its own address.
    server = await startServer({args: ['--trusted-proxy', '127.0.0.1']});
    browser = await launchBrowser();
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  async function logout(page) {
    await page.locator('.topbar button', {hasText: '退出登录'}).click();
    await page.waitForSelector('.login-submit');
  }

  it('logs the clerk in from his own browser while his password is guessed', async () => {
    const clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await logout(clerk);

    const statuses = [];
    let stop = false;
    const guessing = (async () => {
      for (let i = 0; !stop; i++) {
        const r = await fetch(`${server.url}/api/login`, {
          method: 'POST',
          headers: {'Content-Type': 'application/json', 'X-Forwarded-For': `10.0.0.${1 + (i % 20)}`},
          body: JSON.stringify({username: 'clerk001', password: `guess${i}`}),
        });
        statuses.push(r.status);
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
    })();
    try {
      // Until the account's wait has grown to seconds.
      const checked = () => statuses.filter((s) => s === 401).length;
      for (let i = 0; i < 1500 && checked() < 8; i++) await new Promise((r) => setTimeout(r, 20));
      assert.ok(statuses.includes(429), 'the account waits');

      // A browser that has never logged in as him waits, and is told so.
      const stranger = await newPage(browser);
      await stranger.goto(`${server.url}/`);
      await stranger.fill('#username', 'clerk001');
      await stranger.fill('#password', 'clerk001pass');
      await stranger.click('.login-submit');
      await stranger.waitForSelector('.login-error:not([hidden])');
      assert.match(await stranger.locator('.login-error').textContent(), /^登录失败次数过多，请\d+秒后再试$/);

      // His own browser logs in at once, again and again.
      for (let i = 0; i < 3; i++) {
        const started = Date.now();
        await login(clerk, server.url, 'clerk001', 'clerk001pass');
        assert.ok(Date.now() - started < 5000, `login ${i} took ${Date.now() - started} ms`);
        await settle(clerk);
        await logout(clerk);
      }
    } finally {
      stop = true;
      await guessing;
    }
    const checked = statuses.filter((s) => s === 401).length;
    assert.ok(checked <= 12, `${checked} of ${statuses.length} guesses were checked`);
    assert.match(await server.log(), / clerk001 001 127\.0\.0\.1 login ok \(known device\)/);
    assert.deepEqual(clerk.errors, []);
  });
});
