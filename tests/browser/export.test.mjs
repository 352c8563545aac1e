// Lists to spreadsheets in a real browser: a clerk exports the worker rows of his declaration
// from a row's menu and its history from the history dialog, a clerk of a unit of 400 workers gets every worker though the page holds
// a window of them, and the authority exports his inbox from a right-click on its header. Each
// download is read back with openpyxl (tests/xlsx_cells.py) and compared with the grid.

import assert from 'node:assert/strict';
import {execFile} from 'node:child_process';
import {mkdtemp, rm} from 'node:fs/promises';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';
import {promisify} from 'node:util';

import {cell, launchBrowser, login, newPage, settle, shot, startServer, tickSubmitted} from './harness.mjs';

const run = promisify(execFile);
const WORKERS = 400;
const DATED = /^(.+)_(\d{4}-\d{2}-\d{2})\.xlsx$/;

// The first sheet of a workbook as openpyxl reads it.
async function readSheet(file) {
  const {stdout} = await run('/usr/bin/python3', [path.resolve('tests/xlsx_cells.py'), file], {maxBuffer: 64 << 20});
  return JSON.parse(stdout);
}

// A cell as the grid shows it: dates as yyyy-mm-dd, texts as they are.
function shownText(c) {
  if (c.t === 'e') return '';
  if (c.t === 'd') return c.f === 'yyyy-mm-dd' ? c.v.slice(0, 10) : c.v;
  return String(c.v);
}

// The grid as drawn: its captions and the text of each drawn row (a check box by its label).
function drawnGrid(scope, control) {
  return scope.locator(`[data-name=${control}] table.grid`).evaluate((table) => ({
    captions: [...table.querySelectorAll('thead th')].map((th) => th.textContent),
    rows: [...table.querySelectorAll('tbody tr[data-row]')].map((tr) => ({
      row: Number(tr.dataset.row),
      cells: [...tr.children].map((td) => {
        const tick = td.querySelector('[aria-label]');
        return tick && !td.textContent ? tick.getAttribute('aria-label') : td.textContent;
      }),
    })),
  }));
}

describe('exporting lists to spreadsheets', {timeout: 300000}, () => {
  let server;
  let browser;
  let folder;

  before(async () => {
    server = await startServer({init: ['--demo', '--units', '1', '--workers', String(WORKERS)]});
    browser = await launchBrowser();
    folder = await mkdtemp(path.join(tmpdir(), 'shenbao-export-'));
  });

  after(async () => {
    if (browser) await browser.close();
    if (server) await server.stop();
    if (folder) await rm(folder, {recursive: true, force: true});
  });

  // Chooses 导出Excel(X) in the menu open on the page and saves the download.
  async function download(page, name) {
    const menu = page.locator('.context-menu');
    const item = menu.locator('button', {hasText: '导出Excel(X)'});
    assert.equal(await item.count(), 1);
    const [file] = await Promise.all([page.waitForEvent('download'), item.click()]);
    const saved = path.join(folder, name);
    await file.saveAs(saved);
    await settle(page);
    assert.equal(await menu.count(), 0, 'the menu closes');
    return {fileName: file.suggestedFilename(), sheet: await readSheet(saved)};
  }

  // The sheet holds the grid: its captions, frozen, and the drawn rows where they stand.
  function assertSheetShowsGrid(sheet, grid) {
    assert.equal(sheet.freeze, 'A2');
    assert.deepEqual(sheet.rows[0].map(shownText), grid.captions);
    for (const {row, cells} of grid.rows) assert.deepEqual(sheet.rows[row].map(shownText), cells, `row ${row}`);
  }

  it('a clerk exports the worker rows of his declaration from a row menu', async () => {
    const clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk001', 'clerk001pass');
    await clerk.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    await clerk.click('[data-name=pb_16]');
    await settle(clerk);
    await cell(clerk, 'dw_3', '申报人').fill('王小红');
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    const workers = clerk.locator('[data-name=dw_2] tbody tr[data-row]');
    // The row's menu takes the worker into the declaration, as a double-click does.
    await workers.filter({hasText: '杨丽华'}).click({button: 'right'});
    await clerk.locator('.context-menu button', {hasText: '加入本次申报：杨丽华'}).click();
    await settle(clerk);
    assert.equal(await clerk.locator('.status-text').textContent(), '已将杨丽华加入申报，请填写后保存');
    await cell(clerk, 'dw_4', '现任职时间').fill('2006-01-01');
    for (const [label, name] of [['拟定职务', '副局长'], ['拟定级别', '县处级副职']]) {
      const field = cell(clerk, 'dw_4', label);
      await field.click();
      await field.fill(name);
    }
    await clerk.click('[data-name=pb_2]');
    await settle(clerk);
    await tickSubmitted(clerk);
    await clerk.click('[data-name=pb_5]');
    await settle(clerk);
    assert.equal(await clerk.locator('.status-text').textContent(), '保存成功');

    await workers.filter({hasText: '杨丽华'}).click({button: 'right'});
    await shot(clerk, 'export-01-row-menu');
    const {fileName, sheet} = await download(clerk, 'workers.xlsx');
    const [, title, date] = DATED.exec(fileName) || [];
    assert.equal(title, '职位职数上报', fileName);
    assert.ok(date, fileName);
    assert.deepEqual(sheet.sheets, ['职位职数上报']);
    const grid = await drawnGrid(clerk, 'dw_2');
    assert.equal(sheet.rows.length - 1, grid.rows.length, 'a short list is drawn whole');
    assertSheetShowsGrid(sheet, grid);
    assert.deepEqual(sheet.rows.find((r) => r[1].v === '杨丽华').map(shownText).slice(0, 2), ['0010007', '杨丽华']);

    // The declaration's history, a dialog over the window, exports its own list.
    await clerk.click('[data-name=pb_history]');
    await settle(clerk);
    const dialog = clerk.locator('.dialog');
    await dialog.locator('[data-name=dw_1] tbody tr[data-row]').first().click({button: 'right'});
    await shot(clerk, 'export-02-history-menu');
    const history = await download(clerk, 'history.xlsx');
    assert.equal(DATED.exec(history.fileName)?.[1], '申报记录 — 0000000001', history.fileName);
    const steps = await drawnGrid(dialog, 'dw_1');
    assert.equal(history.sheet.rows.length - 1, steps.rows.length);
    assertSheetShowsGrid(history.sheet, steps);
    await dialog.locator('[data-name=pb_close]').click();
    await settle(clerk);
    assert.deepEqual(clerk.errors, []);
  });

  it('a clerk of a unit of 400 workers gets every worker, not the rows the page holds', async () => {
    const clerk = await newPage(browser);
    await login(clerk, server.url, 'clerk003', 'clerk003pass');
    await clerk.locator('.menu-item', {hasText: '职位职数上报'}).click();
    await settle(clerk);
    const total = await clerk.evaluate(async () => {
      const {state} = await (await fetch('/api/state')).json();
      return state.sheets[0].controls.find((c) => c.name === 'dw_2').form.row_count;
    });
    const grid = await drawnGrid(clerk, 'dw_2');
    assert.ok(grid.rows.length < total, `${grid.rows.length} of ${total} rows drawn`);
    // A right-click on the header, not on a row.
    await clerk.locator('[data-name=dw_2] thead th').first().click({button: 'right'});
    const {sheet} = await download(clerk, 'unit.xlsx');
    assert.equal(sheet.rows.length - 1, total);
    assertSheetShowsGrid(sheet, grid);
    const codes = sheet.rows.slice(1).map((r) => r[0].v);
    assert.equal(new Set(codes).size, total, 'each worker once');
    assert.deepEqual(clerk.errors, []);
  });

  it('the authority exports his inbox from a right-click on it', async () => {
    const authority = await newPage(browser);
    await login(authority, server.url, 'authority', 'authoritypass');
    assert.equal(await authority.locator('.tab.active .tab-title').textContent(), '待审核申报');
    await authority.locator('[data-name=dw_1] thead').click({button: 'right'});
    await shot(authority, 'export-03-inbox-menu');
    const {fileName, sheet} = await download(authority, 'inbox.xlsx');
    assert.equal(DATED.exec(fileName)?.[1], '待审核申报', fileName);
    const grid = await drawnGrid(authority, 'dw_1');
    assert.equal(sheet.rows.length - 1, grid.rows.length);
    assertSheetShowsGrid(sheet, grid);
    const filed = sheet.rows.find((r) => r.some((c) => c.v === '王小红'));
    assert.ok(filed, 'the clerk\'s submitted declaration is listed');
    // Submitted at a time of day: a spreadsheet date-time.
    assert.ok(filed.some((c) => c.t === 'd' && /^yyyy-mm-dd( hh:mm:ss)?$/.test(c.f)), 'its date is a spreadsheet date');
    // Every export is written in the audit log: who, which window and list, how many rows.
    const log = await server.log();
    assert.match(log, new RegExp(`authority - \\S+ export window w_sb_inbox, list dw_1, ${grid.rows.length} rows`));
    assert.match(log, /clerk003 003 \S+ export window w_vorant_zw, list dw_2, \d+ rows/);
    assert.deepEqual(authority.errors, []);
  });
});
