// Rewards in the browser: a clerk extracts a civil-servant reward declaration for a period
// and the authority accepts it into the reward records; a clerk fills a provincial-government
// reward declaration and prints its two-page application (both pages kept as artifacts); a
// provincial-government declaration filled to every field's full length, with line breaks,
// comes back unchanged and previews whole.

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {writeFile} from 'node:fs/promises';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {acceptFirstListed, artifacts, cell, launchBrowser, login, newPage, openCategory, settle, shot, startServer, tickSubmitted} from './harness.mjs';

const run = promisify(execFile);

describe('reward declarations', () => {
  let server;
  let browser;
  let clerk;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const query = async (sql) => (await run('sqlite3', [server.db, sql])).stdout.trim();
  const rowOf = (page, name) => page.locator('[data-name=dw_2] tbody tr', {hasText: name}).first();

  it('extracts the workers\' rewards of a period into a civil-servant declaration', async () => {
    await openCategory(clerk, '公务员奖励申报');
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await tickSubmitted(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    await clerk.click('[data-name=pb_6]');
    await settle(clerk);
    await clerk.locator('.dialog [data-name=em_1]').waitFor();
    await clerk.locator('.dialog [data-name=em_1]').fill('2008-01-01');
    await clerk.locator('.dialog [data-name=em_2]').fill('2009-12-31');
    await shot(clerk, 'reward-01-period');
    await clerk.locator('.dialog [data-name=pb_1]').click();
    await settle(clerk);
    assert.equal(await clerk.locator('.msgbox').count(), 0);
    assert.match(await rowOf(clerk, '赵志刚').textContent(), /申报/);
    assert.match(await rowOf(clerk, '张建国').textContent(), /未申报/);
    await rowOf(clerk, '周晓燕').click();
    await settle(clerk);
    assert.equal(await cell(clerk, 'dw_4', '奖励时间').inputValue(), '2009-01-10');
    await shot(clerk, 'reward-02-extracted');
    assert.equal(await query("select group_concat(worker_code) from (select worker_code from rs_w00033 where pkid = '0000000001' order by worker_code)"),
                 '0010004,0010007,0010009');
    assert.deepEqual(clerk.errors, []);
  });

  it('lets the authority accept it into the reward records', async () => {
    const before = Number(await query('select count(*) from rs_sub_jl_2'));
    const authority = await newPage(browser);
    await login(authority, server.url, 'authority', 'authoritypass');
    await openCategory(authority, '公务员奖励申报');
    await authority.locator('select[data-key$="/uo_1"]').selectOption('001');
    await settle(authority);
    await acceptFirstListed(authority, {onAccepted: () => shot(authority, 'reward-03-accepted')});
    assert.equal(Number(await query('select count(*) from rs_sub_jl_2')), before + 3);
    assert.equal(await query("select jl_date || ' ' || ry_jb from rs_sub_jl_2 where worker_code = '0010009' order by pk_id desc limit 1"),
                 '20090110 4');
    assert.deepEqual(authority.errors, []);
  });

  it('keeps a provincial-government declaration filled to every field\'s full length, line breaks and all', async () => {
    await openCategory(clerk, '省政府奖励申报');
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    const unitForm = clerk.locator('[data-name=dw_3]');
    const fields = unitForm.locator('input.ff-cell:not([readonly]), textarea.ff-cell:not([readonly])');
    // Each text as long as its column holds (a long text: several paragraphs), numbers and
    // dates as their masks take them.
    const entries = {};
    for (let i = 0; i < await fields.count(); ++i) {
      const field = fields.nth(i);
      const label = await field.getAttribute('aria-label');
      const limit = Number(await field.getAttribute('maxlength')) || 0;
      const mask = await field.getAttribute('data-mask');
      let text;
      // The declaration's own date stays today's, within the range the list shows.
      if ((await field.getAttribute('data-key')).endsWith('/sb_date')) continue;
      if (mask === 'yyyy-mm-dd') text = '2009-12-31';
      else if ((await field.getAttribute('inputmode')) === 'decimal') text = mask && mask.includes('%') ? '99.99' : '987654';
      else if (label === '电子信箱' || /mail/.test(label)) text = `${'a'.repeat(limit - 12)}@example.com`;
      else if (limit > 400) text = Array.from({length: 6}, (_, p) => `第${p + 1}段：${'事迹材料全长填写'.repeat(6)}。`).join('\n');
      else if (limit > 0) {
        const lines = (await field.evaluate((f) => f.tagName)) === 'TEXTAREA';
        text = Array.from({length: limit}, (_, k) => (lines && k % 30 === 29 ? '\n' : '奖励方式名额全长'[k % 8])).join('');
      } else continue;
      await field.fill(text);
      entries[label] = text;
    }
    assert.ok(Object.keys(entries).length >= 10, `filled ${Object.keys(entries).join(',')}`);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    assert.equal(await clerk.locator('.msgbox').count(), 0);
    assert.equal(await clerk.locator('.status-text').textContent(), '保存成功');
    await shot(clerk, 'reward-06-full-length');
    // Closed and opened again: every entry as it was typed.
    await clerk.locator('.tab.active .tab-close').click();
    await settle(clerk);
    await openCategory(clerk, '省政府奖励申报');
    await clerk.locator('[data-name=dw_1] tbody tr[data-row]').last().click();
    await settle(clerk);
    for (const [label, text] of Object.entries(entries)) {
      let shown = await unitForm.locator(`[aria-label="${label}"]`).inputValue();
      if (text === '99.99') shown = shown.replace('%', '');
      assert.equal(shown, text, label);
    }
    await clerk.click('[data-name=pb_6]');
    await settle(clerk);
    const pages = clerk.locator('[data-name=dw_1] img.preview-page');
    await clerk.waitForFunction(() => {
      const imgs = [...document.querySelectorAll('img.preview-page')];
      return imgs.length >= 2 && imgs.every((img) => img.complete && img.naturalWidth > 0);
    });
    for (let i = 0; i < await pages.count(); ++i) {
      const png = await clerk.request.get(new URL(await pages.nth(i).getAttribute('src'), server.url).href);
      assert.equal(png.status(), 200);
      await writeFile(path.join(artifacts, `reward-full-length-page-${i + 1}.png`), await png.body());
    }
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    await clerk.locator('.tab.active .tab-close').click();
    await settle(clerk);
    assert.deepEqual(clerk.errors, []);
  });

  it('prints a provincial-government declaration as its two-page application', async () => {
    await openCategory(clerk, '省政府奖励申报');
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await cell(clerk, 'dw_3', '奖励名称').fill('全省人事系统先进集体和先进工作者');
    await cell(clerk, 'dw_3', '申报人').fill('王小红');
    await cell(clerk, 'dw_3', '评选范围').fill('全市人事系统各单位');
    await cell(clerk, 'dw_3', 'jl_jt_all').fill('40');
    await cell(clerk, 'dw_3', 'jl_jt_rate').fill('12.5');
    await cell(clerk, 'dw_3', 'jl_jt_num').fill('5');
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    assert.equal(await cell(clerk, 'dw_3', 'jl_jt_rate').inputValue(), '12.50%');
    await shot(clerk, 'reward-04-szf-saved');

    await clerk.click('[data-name=pb_6]');
    await settle(clerk);
    assert.equal(await clerk.locator('.tab.active .tab-title').textContent(), '省政府奖励申报表');
    const pages = clerk.locator('[data-name=dw_1] img.preview-page');
    await pages.first().waitFor();
    await clerk.waitForFunction(() => {
      const imgs = [...document.querySelectorAll('img.preview-page')];
      return imgs.length === 2 && imgs.every((img) => img.complete && img.naturalWidth > 0);
    });
    for (let i = 0; i < 2; ++i) {
      const src = await pages.nth(i).getAttribute('src');
      const png = await clerk.request.get(new URL(src, server.url).href);
      assert.equal(png.status(), 200);
      await writeFile(path.join(artifacts, `reward-szf-preview-page-${i + 1}.png`), await png.body());
    }
    await shot(clerk, 'reward-05-preview');

    await clerk.click('[data-name=pb_1]');
    await settle(clerk);
    const link = clerk.locator('.notice-link');
    await link.waitFor();
    const pdf = await clerk.request.get(`${server.url}${await link.getAttribute('href')}`);
    assert.equal(pdf.status(), 200);
    const file = path.join(artifacts, 'reward-szf-application.pdf');
    await writeFile(file, await pdf.body());
    const text = (await run('pdftotext', ['-enc', 'UTF-8', file, '-'])).stdout.replace(/\s+/g, '');
    for (const expected of ['省政府奖励申报表', '全省人事系统先进集体和先进工作者', '12.50%', '第1页',
                            '省人事厅审核意见', '省政府审批意见', '（盖章）', '第2页']) {
      assert.ok(text.includes(expected), `the PDF lacks ${expected}`);
    }
    assert.equal((await run('pdfinfo', [file])).stdout.match(/Pages:\s+(\d+)/)[1], '2');
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    assert.equal(await clerk.locator('.tab.active .tab-title').textContent(), '省政府奖励申报');
    assert.deepEqual(clerk.errors, []);
  });
});
