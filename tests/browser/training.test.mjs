// A clerk files a training declaration in the browser from start to finish: the unit's own
// subjects named in the subject dialog, the workers extracted through the period dialog,
// credits entered for a worker and kept when Enter declines a second extraction, then the
// print sheet with its fixed reports and the generated list "应培未培公务员名单" in preview
// and printed (the preview page and the PDF kept as artifacts).

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {writeFile} from 'node:fs/promises';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {artifacts, cell, launchBrowser, login, newPage, settle, shot, startServer} from './harness.mjs';

const run = promisify(execFile);

const OWN_SUBJECTS = ['外语', '公文写作', '电子政务', '应急管理', '廉政建设'];

describe('a training declaration is filed and its list printed', () => {
  let server;
  let browser;
  let page;

  before(async () => {
    server = await startServer();
    browser = await launchBrowser();
    page = await newPage(browser);
    await login(page, server.url, 'clerk001', 'clerk001pass');
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
  });

  const query = async (sql) => (await run('sqlite3', [server.db, sql])).stdout.trim();
  const title = () => page.locator('.tab.active .tab-title').textContent();
  const rowOf = (name) => page.locator('[data-name=dw_2] tbody tr', {hasText: name}).first();
  // The preview pages of a form control once every image has loaded.
  const previewPages = async (control) => {
    await page.waitForFunction((name) => {
      const imgs = [...document.querySelectorAll(`[data-name=${name}] img.preview-page`)];
      return imgs.length > 0 && imgs.every((img) => img.complete && img.naturalWidth > 0);
    }, control);
    return page.locator(`[data-name=${control}] img.preview-page`);
  };

  it('creates the declaration and names the unit\'s own subjects in the subject dialog', async () => {
    await page.locator('.menu-item', {hasText: '公务员培训'}).click();
    await settle(page);
    assert.equal(await title(), '公务员培训');
    await page.click('[data-name=pb_16]');
    await settle(page);
    await page.click('[data-name=pb_5]');
    await settle(page);
    assert.equal(await page.locator('.status-text').textContent(), '保存成功');

    await page.click('[data-name=pb_8]');
    await settle(page);
    const dialog = page.locator('.dialog');
    assert.equal(await dialog.getAttribute('aria-label'), '培训科目设置');
    const rows = dialog.locator('[data-name=dw_1] tbody tr');
    assert.equal(await rows.count(), 10);
    // The fixed subjects cannot be renamed; the unit's own ones (06 to 10) can.
    assert.equal(await rows.nth(0).locator('input[aria-label=名称]').count(), 0);
    assert.match(await rows.nth(0).textContent(), /公共服务/);
    for (const [i, name] of OWN_SUBJECTS.entries()) {
      const input = rows.nth(5 + i).locator('input[aria-label=名称]');
      await input.click();
      await settle(page);
      await input.fill(name);
      await page.keyboard.press('Tab');
      await settle(page);
      assert.equal(await dialog.locator('[data-name=dw_1] tbody tr').nth(5 + i).locator('input[aria-label=名称]').inputValue(),
                   name);
    }
    await shot(page, 'px-01-subjects');
    await dialog.locator('[data-name=pb_2]').click();
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    await dialog.locator('[data-name=pb_1]').click();
    await settle(page);
    assert.equal(await page.locator('.dialog').count(), 0);
    assert.equal(await query("select group_concat(name, ',') from (select name from rs_px_type where pkid = '0000000001' and code > '05' order by code)"),
                 OWN_SUBJECTS.join(','));
  });

  it('extracts the unit\'s workers through the period dialog', async () => {
    await page.click('[data-name=pb_6]');
    await settle(page);
    const period = page.locator('.dialog [data-name=pb_1]');
    await period.waitFor();
    await shot(page, 'px-02-period');
    await period.click();
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.equal(await query("select count(*) from rs_w00028 where pkid = '0000000001' and over_pxrw = '1'"), '12');
    assert.match(await rowOf('张建国').textContent(), /申报/);
  });

  it('takes a worker\'s credits, in a fixed subject and in one of the unit\'s own', async () => {
    await rowOf('张建国').click();
    await settle(page);
    assert.equal(await cell(page, 'dw_4', '姓名').inputValue(), '张建国');
    // The own subjects are laid out in the worker form under their names.
    assert.equal(await cell(page, 'dw_4', '廉政建设').count(), 1);
    await cell(page, 'dw_4', '公共服务').fill('2');
    await cell(page, 'dw_4', '外语').fill('1.5');
    await page.keyboard.press('Tab');
    await settle(page);
    await shot(page, 'px-03-credits');
    await page.click('[data-name=pb_2]');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.equal(await query("select xf01 || ' ' || xf06 || ' ' || coalesce(xf02, '-') from rs_w00028 where worker_code = '0010001'"),
                 '2.0 1.5 -');
  });

  it('asks before extracting over the rows with 否 as the default, which Enter presses', async () => {
    await page.click('[data-name=pb_6]');
    await settle(page);
    assert.equal(await page.locator('.msgbox-text').textContent(),
                 '人员培训信息已存在，如果重新提取将覆盖该批数据，\r\n您确定要重新提取人员培训信息吗？');
    const focused = () => page.evaluate(() => document.activeElement.textContent);
    assert.equal(await focused(), '否(N)');
    assert.deepEqual(await page.locator('.msgbox-buttons .btn-primary').allTextContents(), ['否(N)']);
    await shot(page, 'px-03-overwrite-question');
    await page.keyboard.press('Enter');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.equal(await page.locator('.dialog').count(), 0, 'no period is asked for after 否');
    assert.equal(await query("select xf01 || ' ' || xf06 from rs_w00028 where worker_code = '0010001'"), '2.0 1.5');
    assert.equal(await cell(page, 'dw_4', '公共服务').inputValue(), '2');
  });

  it('previews the fixed reports and the generated list, and prints both into one job', async () => {
    await page.click('[data-name=pb_7]');
    await settle(page);
    assert.equal(await title(), '培训情况');
    assert.ok((await (await previewPages('dw_1')).count()) >= 1);
    await previewPages('dw_2');
    assert.equal(await page.locator('[data-name=pb_3]').isVisible(), false);
    await shot(page, 'px-04-print-sheet');

    await page.click('[data-name=pb_2]');
    await settle(page);
    assert.equal(await page.locator('.msgbox').count(), 0);
    assert.equal(await page.locator('[data-name=dw_1]').isVisible(), false);
    const pages = await previewPages('dw_3');
    const first = pages.first();
    assert.ok(await first.evaluate((img) => img.naturalWidth >= 794));
    // The generated page itself, kept to be looked at.
    const png = await page.request.get(new URL(await first.getAttribute('src'), server.url).href);
    assert.equal(png.status(), 200);
    await writeFile(path.join(artifacts, 'px-05-generated-list-page.png'), await png.body());
    await shot(page, 'px-05-generated-list');

    // The generated list exports as the list it is: a name and a tick per subject not taken.
    await first.click({button: 'right'});
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      page.locator('.context-menu button', {hasText: '导出Excel(X)'}).click(),
    ]);
    assert.match(download.suggestedFilename(), /^培训情况_\d{4}-\d{2}-\d{2}\.xlsx$/);
    const workbook = path.join(artifacts, 'px-generated-list.xlsx');
    await download.saveAs(workbook);
    const sheet = JSON.parse((await run('/usr/bin/python3', [path.resolve('tests/xlsx_cells.py'), workbook])).stdout);
    const [captions, ...listed] = sheet.rows.map((r) => r.map((c) => (c.t === 'e' ? '' : c.v)));
    assert.equal(captions[0], '姓名');
    for (const subject of OWN_SUBJECTS) assert.ok(captions.includes(subject), `no column ${subject}: ${captions}`);
    assert.ok(listed.some((r) => r[0] === '张建国'));
    assert.ok(listed.every((r) => r.slice(1).every((v) => v === '√' || v === '')), JSON.stringify(listed));
    assert.ok(listed.some((r) => r.includes('√')));
    await settle(page);

    await page.click('[data-name=pb_3]');
    await settle(page);
    const link = page.locator('.notice-link');
    await link.waitFor();
    const pdf = await page.request.get(`${server.url}${await link.getAttribute('href')}`);
    assert.equal(pdf.status(), 200);
    const file = path.join(artifacts, 'px-training-print.pdf');
    await writeFile(file, await pdf.body());
    const text = (await run('pdftotext', ['-enc', 'UTF-8', file, '-'])).stdout.replace(/\s+/g, '');
    for (const expected of ['公务员培训情况一览表', '应培未培公务员名单', '姓名', '课目', '张建国', ...OWN_SUBJECTS]) {
      assert.ok(text.includes(expected), `the PDF lacks ${expected}`);
    }
    // Back to the fixed view.
    await page.click('[data-name=pb_2]');
    await settle(page);
    assert.equal(await page.locator('[data-name=dw_3]').isVisible(), false);
    await previewPages('dw_1');
    assert.deepEqual(page.errors, []);
  });
});
