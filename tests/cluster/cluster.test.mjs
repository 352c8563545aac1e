// Two servers on one PostgreSQL database behind HAProxy, as tools/cluster.sh starts them,
// driven over HTTP as browsers drive them (each browser its own cookies, so HAProxy keeps it on
// one server). What must hold across servers: numbers are given once, a save over another's
// change is told and not written, an acceptance and a save of one declaration take turns, the
// guessing throttle counts on every server, and a server stopped with SIGTERM loses no saved
// change: its browsers are told to log in again and find their work.
//
// Needs $SHENBAO_TEST_PG (a PostgreSQL server; the test works in a schema of its own) and
// haproxy; no root.

import assert from 'node:assert/strict';
import {execFile, spawn} from 'node:child_process';
import {mkdtemp, readFile, rm} from 'node:fs/promises';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {test} from 'node:test';
import {promisify} from 'node:util';

const run = promisify(execFile);
const bin = path.resolve(process.env.SHENBAO_BIN || 'build/shenbao');
const server = process.env.SHENBAO_TEST_PG;

// Runs SQL on the test's schema and answers its rows, each a list of texts.
async function sql(url, statement) {
  const {stdout} = await run('psql', [url, '-qtAX', '-F', '\t', '-v', 'ON_ERROR_STOP=1', '-c', statement]);
  return stdout.split('\n').filter((line) => line !== '').map((line) => line.split('\t'));
}

// A browser: its own cookies (the session's, the device token, HAProxy's SHENBAO_SERVER).
class Browser {
  constructor(base) {
    this.base = base;
    this.cookies = new Map();
    this.csrf = '';
  }

  get server() {
    return this.cookies.get('SHENBAO_SERVER');
  }

  async request(method, pathname, body, base = this.base) {
    const headers = {Accept: 'application/json'};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (this.csrf) headers['X-CSRF-Token'] = this.csrf;
    if (this.cookies.size) headers.Cookie = [...this.cookies].map(([k, v]) => `${k}=${v}`).join('; ');
    const response = await fetch(base + pathname, {
      method, headers, body: body === undefined ? undefined : JSON.stringify(body)});
    for (const set of response.headers.getSetCookie()) {
      const [pair] = set.split(';');
      const eq = pair.indexOf('=');
      const name = pair.slice(0, eq).trim();
      const value = pair.slice(eq + 1).trim();
      if (/Max-Age=0/i.test(set) || value === '') this.cookies.delete(name);
      else this.cookies.set(name, value);
    }
    const data = (response.headers.get('Content-Type') || '').startsWith('application/json')
      ? await response.json().catch(() => null) : null;
    return {status: response.status, data: data || {}};
  }

  async login(username, password = `${username}pass`, base = this.base) {
    const r = await this.request('POST', '/api/login', {username, password}, base);
    if (r.status === 200) this.csrf = r.data.csrf;
    return r;
  }

  // Posts an event; answers {status, result, state}, and fails the test on anything but an
  // answer of the session (200 or 409).
  async event(kind, target, more = {}) {
    const r = await this.request('POST', '/api/event', {kind, target, ...more});
    return {status: r.status, result: r.data.result, state: r.data.state, data: r.data};
  }

  async must(kind, target, more = {}) {
    const r = await this.event(kind, target, more);
    assert.equal(r.status, 200, `${kind} ${target}: ${JSON.stringify(r.data).slice(0, 300)}`);
    return r;
  }
}

// tools/cluster.sh 2 on a fresh schema; answers the proxy's address, the servers' and a stop().
async function startCluster(url, runDir) {
  const port = 20000 + Math.floor(Math.random() * 20000);
  const child = spawn('tools/cluster.sh', ['2'], {
    env: {...process.env, SHENBAO_DB: url, SHENBAO_PORT: String(port), SHENBAO_RUN_DIR: runDir, SHENBAO_BIN: bin},
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let out = '';
  child.stderr.on('data', (d) => { out += d; });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`the cluster did not start: ${out}`)), 30000);
    child.stdout.on('data', (d) => {
      out += d;
      if (out.includes('cluster ready')) {
        clearTimeout(timer);
        resolve();
      }
    });
    child.on('exit', (code) => reject(new Error(`tools/cluster.sh exited with ${code}: ${out}`)));
  });
  return {
    proxy: `http://127.0.0.1:${port}`,
    direct: (name) => `http://127.0.0.1:${port + Number(name.slice(1))}`,
    pid: async (name) => Number(await readFile(path.join(runDir, `server${name.slice(1)}.pid`), 'utf8')),
    async stop() {
      const exited = new Promise((resolve) => child.once('exit', resolve));
      child.kill('SIGTERM');
      await Promise.race([exited, new Promise((r) => setTimeout(r, 10000))]);
    },
  };
}

// Logs `username` in through the proxy until the browser is on server `name`.
async function loginOn(base, name, username) {
  for (let i = 0; i < 8; i++) {
    const browser = new Browser(base);
    const r = await browser.login(username);
    assert.equal(r.status, 200, JSON.stringify(r.data));
    if (browser.server === name) return browser;
    await browser.request('POST', '/api/logout', {});
  }
  throw new Error(`no login of ${username} reached ${name}`);
}

// A new candidate person (奖励人员申报) or planned person (增人计划), saved: whether the save was
// answered as done (no message box).
async function addPerson(browser, kind, name) {
  if (kind === 'candidate') {
    await browser.must('click', 'pb_n');
    await browser.must('type', 'dw_4', {row: 1, column: 'worker_name', text: name});
  } else {
    await browser.must('click', 'pb_6');
    await browser.must('type', 'dw_4', {row: 1, column: 'worker_name', text: name});
    await browser.must('type', 'dw_4', {row: 1, column: 'sex', text: '1'});
    await browser.must('type', 'dw_4', {row: 1, column: 'birthday', text: '1980-05-04'});
  }
  const saved = await browser.event('click', 'pb_2');
  return saved.status === 200 && saved.state && saved.state.message === null;
}

// Opens the category window and saves a new declaration in it.
async function newDeclaration(browser, windowClass) {
  await browser.must('open', windowClass);
  await browser.must('click', 'pb_16');
  const saved = await browser.must('click', 'pb_5');
  assert.equal(saved.state.message, null);
}

const windows = {candidate: 'w_sb_jlry', planned: 'w_vorant_rsjh'};
const tables = {candidate: 'rs_w00046', planned: 'rs_w00034'};

test('two servers behind HAProxy keep one register', {skip: !server && 'set SHENBAO_TEST_PG'}, async (t) => {
  const schema = `cluster_${process.pid}_${Date.now()}`;
  await sql(server, `create schema ${schema}`);
  const url = `${server}${server.includes('?') ? '&' : '?'}options=-csearch_path%3D${schema}`;
  const runDir = await mkdtemp(path.join(tmpdir(), 'shenbao-cluster-'));
  let cluster;
  try {
    await run(bin, ['init', url]);
    cluster = await startCluster(url, runDir);

    // Clerks of one unit on the two servers add persons and candidates at once.
    const one = await loginOn(cluster.proxy, 's1', 'clerk001');
    const two = await loginOn(cluster.proxy, 's2', 'clerk001');
    const saved = [];
    await t.test('numbers are given once across servers', async () => {
      const clerk = async (browser, tag) => {
        for (const kind of ['candidate', 'planned']) {
          await newDeclaration(browser, windows[kind]);
          for (let i = 1; i <= 6; i++) {
            const name = `${tag}${kind === 'candidate' ? '候' : '员'}${i}`;
            if (await addPerson(browser, kind, name)) saved.push({kind, name});
          }
        }
      };
      await Promise.all([clerk(one, '甲'), clerk(two, '乙')]);
      for (const kind of Object.keys(tables)) {
        const twice = await sql(url, `select worker_code, count(*) from ${tables[kind]} where company_num = '001' ` +
                                     `group by worker_code having count(*) > 1`);
        assert.deepEqual(twice, [], `${kind}: a number given twice`);
        const rows = await sql(url, `select count(*) from ${tables[kind]} where company_num = '001'`);
        assert.equal(Number(rows[0][0]), 12, `${kind}: every person saved`);
      }
      assert.equal(saved.length, 24);
    });

    await t.test('a save over the other server\'s change is told and writes nothing', async () => {
      await one.must('open', 'w_vorant_zw');
      await one.must('click', 'pb_16');
      await one.must('click', 'pb_5');
      await two.must('open', 'w_vorant_zw');
      await two.must('select', 'dw_1', {row: 1});
      await one.must('type', 'dw_3', {row: 1, column: 'sbr', text: '甲'});
      assert.equal((await one.must('click', 'pb_5')).state.message, null);
      await two.must('type', 'dw_3', {row: 1, column: 'sbr', text: '乙'});
      const late = await two.event('click', 'pb_5');
      assert.equal(late.state.message.text, '数据已被他人修改，请重新打开后再保存！');
      await two.must('answer', 'ok');
      assert.deepEqual(await sql(url, `select sbr from rs_w00031_com where company_num = '001'`), [['甲']]);
    });

    await t.test('an acceptance on one server and a save on the other take turns', async () => {
      // The clerk on s1 submits his declaration; the authority on s2 accepts it while the
      // clerk saves a change to it.
      await one.must('type', 'dw_3', {row: 1, column: 'state', text: '1'});
      assert.equal((await one.must('click', 'pb_5')).state.message, null);
      const authority = await loginOn(cluster.proxy, 's2', 'authority');
      await authority.must('open', 'w_sb_inbox');
      await authority.must('select', 'dw_1', {row: 1});
      await authority.must('click', 'pb_open');
      const question = await authority.must('click', 'pb_approve');
      assert.equal(question.state.message.text, '确定要将本次申报数据入库吗？');
      await one.must('type', 'dw_3', {row: 1, column: 'sbr', text: '丁'});
      const [accepted, clerkSave] = await Promise.all([
        authority.event('answer', 'yes'), one.event('click', 'pb_5')]);
      assert.equal(accepted.state.message.text, '数据入库成功！');
      const steps = (await sql(url, `select step from sb_history where table_name = 'rs_w00031_com' ` +
                                    `and company_num = '001' order by pk_id`)).map((r) => r[0]);
      const sbr = (await sql(url, `select sbr from rs_w00031_com where company_num = '001'`))[0][0];
      if (clerkSave.state.message === null) {
        // The save came first: the acceptance took the saved declaration.
        assert.equal(steps.at(-1), 'accepted', steps.join(' '));
        assert.equal(sbr, '丁');
      } else {
        // The acceptance came first: the save is refused and writes nothing.
        assert.equal(clerkSave.state.message.text, '该申报已入库，不能修改！');
        assert.equal(sbr, '甲');
        assert.equal(steps.indexOf('accepted'), steps.length - 1, steps.join(' '));
      }
    });

    await t.test('a user\'s sessions are counted over both servers', async () => {
      // Three sessions a user: his fourth login, on s2, ends his oldest, on s1.
      const oldest = await loginOn(cluster.proxy, 's1', 'clerk002');
      for (let i = 0; i < 3; i++) await loginOn(cluster.proxy, 's2', 'clerk002');
      let r;
      for (let i = 0; i < 50; i++) {
        r = await oldest.request('GET', '/api/state');
        if (r.status === 401) break;
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
      assert.equal(r.status, 401, 'the oldest session ended on its own server');
      const seats = await sql(url, `select count(*) from sb_seat where username = 'clerk002'`);
      assert.equal(Number(seats[0][0]), 3);
    });

    await t.test('the guessing throttle counts on both servers', async () => {
      // clerk002's five free failures, spread over the two servers; the sixth makes the
      // account wait, whichever server the next guess reaches.
      const guesser = new Browser(cluster.proxy);
      for (let i = 0; i < 6; i++) {
        const r = await guesser.login('clerk002', 'wrong', cluster.direct(i % 2 ? 's2' : 's1'));
        assert.equal(r.status, 401, `guess ${i + 1}`);
      }
      for (const name of ['s1', 's2']) {
        const r = await guesser.login('clerk002', 'wrong', cluster.direct(name));
        assert.equal(r.status, 429, `the next guess on ${name}`);
      }
      // The audit log has every server's failed logins.
      const servers = await sql(url, `select count(distinct server) from sb_audit_log where event = 'login-failed' ` +
                                     `and username = 'clerk002'`);
      assert.equal(Number(servers[0][0]), 2);
    });

    await t.test('a server stopped with SIGTERM mid-run loses no saved change', async () => {
      const a = await loginOn(cluster.proxy, 's1', 'clerk001');
      const b = await loginOn(cluster.proxy, 's2', 'clerk001');
      await newDeclaration(a, windows.candidate);
      await newDeclaration(b, windows.candidate);
      const done = [];
      let stopped = false;
      const stopAfter = 3;
      const work = async (browser, tag) => {
        for (let i = 1; i <= 8; i++) {
          const name = `${tag}停${i}`;
          let ok = false;
          try {
            ok = await addPerson(browser, 'candidate', name);
          } catch {
            ok = false;  // its server went away in the middle of the person
          }
          if (ok) done.push(name);
          // s1 goes while its clerk goes on working (his next requests reach s2, which does
          // not know him) and the clerk on s2 is in the middle of his.
          if (tag === '甲' && i === stopAfter && !stopped) {
            stopped = true;
            process.kill(await cluster.pid('s1'), 'SIGTERM');
          }
        }
      };
      await Promise.all([work(a, '甲'), work(b, '乙')]);
      // Every save that was answered as done is in the database.
      const stored = new Set((await sql(url, `select worker_name from rs_w00046 where company_num = '001'`)).map((r) => r[0]));
      for (const name of done) assert.ok(stored.has(name), `${name} was saved and is gone`);
      assert.ok(done.filter((n) => n.startsWith('甲')).length >= stopAfter);

      // The browser of the stopped server is told to log in again, on the other server, and
      // finds its work there.
      let told;
      for (let i = 0; i < 50; i++) {
        told = await a.request('GET', '/api/state');
        if (told.status === 401) break;
        await new Promise((r) => setTimeout(r, 100));
      }
      assert.equal(told.status, 401);
      assert.equal(told.data.code, 'session-unknown');
      assert.equal(told.data.error, '服务器已重新启动，请重新登录。');
      assert.equal((await a.login('clerk001')).status, 200);
      assert.equal(a.server, 's2');
      await a.must('open', windows.candidate);
      const listed = await sql(url, `select count(*) from rs_w00046 w join rs_w00046_com c on c.pkid = w.pkid ` +
                                    `and c.company_num = w.company_num where w.worker_name like '甲停%'`);
      assert.equal(Number(listed[0][0]), done.filter((n) => n.startsWith('甲')).length);
      // The stopped server gave up its seats: none is left of it.
      const seats = await sql(url, `select server_id, count(*) from sb_seat group by server_id`);
      assert.equal(seats.length, 1, JSON.stringify(seats));
    });

    await t.test('审计日志 is the authority\'s: a clerk cannot open it', async () => {
      const clerk = await loginOn(cluster.proxy, 's2', 'clerk001');
      const refused = await clerk.event('open', 'w_audit_log');
      assert.equal(refused.status, 403);
      const state = await clerk.request('GET', '/api/state');
      assert.ok(!state.data.state.frame.menu.some((m) => m.class === 'w_audit_log'));
      const authority = await loginOn(cluster.proxy, 's2', 'authority');
      const opened = await authority.must('open', 'w_audit_log');
      assert.ok(opened.state.frame.menu.some((m) => m.class === 'w_audit_log'));
    });
  } finally {
    if (cluster) await cluster.stop();
    await rm(runDir, {recursive: true, force: true});
    await sql(server, `drop schema ${schema} cascade`).catch(() => {});
  }
});
