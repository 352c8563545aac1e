// What the browser tests share: a server on a fresh database made with `shenbao init`, Debian's
// chromium driven by playwright-core, logging in, waiting for the page to settle, screenshots.
//
//   const server = await startServer();      // {url, log(), signal(name), exited, stop()}
//   startServer({init: ['--demo', '--units', '1', '--workers', '9999']})  // a bigger database
//   const browser = await launchBrowser();
//   const page = await newPage(browser);
//   await login(page, server.url, 'clerk001', 'clerk001pass');
//   await page.click('[data-name=pb_16]'); await settle(page);
//   await openCategory(page, '公务员辞退');  await acceptFirstListed(authority);
//
// The shenbao binary is $SHENBAO_BIN, else build/shenbao. Screenshots go to
// test-artifacts/browser/.

import assert from 'node:assert/strict';
import {spawn, execFile} from 'node:child_process';
import {mkdtemp, mkdir, readFile, rm} from 'node:fs/promises';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {promisify} from 'node:util';
import {chromium} from 'playwright-core';

const run = promisify(execFile);

export const bin = path.resolve(process.env.SHENBAO_BIN || 'build/shenbao');
export const artifacts = path.resolve('test-artifacts/browser');

export async function startServer({init = [], args = []} = {}) {
  const dir = await mkdtemp(path.join(tmpdir(), 'shenbao-browser-'));
  const db = path.join(dir, 'test.db');
  const logFile = path.join(dir, 'server.log');
  await run(bin, ['init', db, ...init], {maxBuffer: 1 << 20});
  const child = spawn(bin, ['serve', db, '--port', '0', '--host', '127.0.0.1', '--log', logFile, ...args],
                      {stdio: ['ignore', 'pipe', 'pipe']});
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const url = await new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error(`shenbao serve did not start: ${stderr}`)), 20000);
    child.stdout.on('data', (d) => {
      out += d;
      const m = /serving (http:\/\/\S+)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve(m[1].replace(/\/$/, ''));
      }
    });
    child.on('exit', (code) => reject(new Error(`shenbao serve exited with ${code}: ${stderr}`)));
  });
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  return {
    url,
    db,
    log: () => readFile(logFile, 'utf8'),
    // Sends the server a signal; `exited` is its exit code once it has gone.
    signal: (name) => child.kill(name),
    exited,
    async stop() {
      const exited = new Promise((resolve) => child.once('exit', resolve));
      child.kill('SIGTERM');
      await Promise.race([exited, new Promise((r) => setTimeout(r, 5000))]);
      await rm(dir, {recursive: true, force: true});
    },
  };
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// A page of a fresh browser context (its own cookies) that fails the test on script errors.
export async function newPage(browser, viewport = {width: 1440, height: 900}) {
  const context = await browser.newContext({viewport, locale: 'zh-CN'});
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  return page;
}

// Waits until no request is under way and the page has drawn what came back.
export async function settle(page) {
  await page.waitForFunction(() => document.body.dataset.pending === '0', null, {timeout: 20000});
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  await page.waitForFunction(() => document.body.dataset.pending === '0', null, {timeout: 20000});
}

export async function login(page, url, username, password) {
  await page.goto(`${url}/`);
  await page.fill('#username', username);
  await page.fill('#password', password);
  await page.click('.login-submit');
  await page.waitForSelector('.topbar');
  await settle(page);
}

// Opens a category from the frame's menu; its sheet is the active tab.
export async function openCategory(page, caption) {
  await page.locator('.menu-item', {hasText: caption}).click();
  await settle(page);
  assert.equal(await page.locator('.tab.active .tab-title').textContent(), caption);
}

// The authority accepts the first declaration of the active window's list (数据入库): the
// question is answered yes and the success message, after `onAccepted` has seen it, ok. With
// `exceeded` (the limits' lines) the acceptance first asks whether to go past the unit's
// approved posts or establishment, with No the button Enter presses; it is answered yes.
export async function acceptFirstListed(page, {onAccepted, exceeded} = {}) {
  await page.locator('[data-name=dw_1] tbody tr').first().click();
  await settle(page);
  await page.click('[data-name=pb_approve]');
  await settle(page);
  assert.equal(await page.locator('.msgbox-text').textContent(), '确定要将本次申报数据入库吗？');
  await page.click('.msgbox [data-answer=yes]');
  await settle(page);
  if (exceeded) {
    assert.equal(await page.locator('.msgbox-text').textContent(),
                 `本次入库后将超出核定职数或编制：\n${exceeded}\n确定要入库吗？`);
    assert.equal(await page.evaluate(() => document.activeElement?.dataset.answer), 'no');
    await shot(page, 'limits-question');
    await page.click('.msgbox [data-answer=yes]');
    await settle(page);
  }
  assert.equal(await page.locator('.msgbox-text').textContent(), '数据入库成功！');
  if (onAccepted) await onAccepted();
  await page.click('.msgbox [data-answer=ok]');
  await settle(page);
}

// Ticks the unit form's check box that submits the declaration ("数据上报" or "上报数据",
// as the category's form calls it); a save then submits it.
export async function tickSubmitted(page) {
  await page.locator('[data-name=dw_3]').locator('[aria-label="数据上报"], [aria-label="上报数据"]').check();
  await settle(page);
}

export async function shot(page, name) {
  await mkdir(artifacts, {recursive: true});
  await page.screenshot({path: path.join(artifacts, `${name}.png`), animations: 'disabled'});
}

// The session's state and CSRF token as the page's own requests would see them.
export function sessionState(page) {
  return page.evaluate(async () => (await fetch('/api/state')).json());
}

// Posts an event the way a tampered page could, with or without the CSRF token.
export function postEvent(page, event, {csrf = true} = {}) {
  return page.evaluate(async ({event, csrf}) => {
    const token = (await (await fetch('/api/state')).json()).csrf;
    const headers = {'Content-Type': 'application/json'};
    if (csrf) headers['X-CSRF-Token'] = token;
    const r = await fetch('/api/event', {method: 'POST', headers, body: JSON.stringify(event)});
    return {status: r.status, body: await r.json().catch(() => null)};
  }, {event, csrf});
}

// The cell of a form control by its caption (the text object <column>_t).
export function cell(page, control, label) {
  return page.locator(`[data-name=${control}] [aria-label="${label}"]`);
}
