// A server told to stop (SIGTERM, as an upgrade or a proxy's operator does) answers the
// requests it has begun, refuses nothing it has taken, writes its log and exits 0.

import assert from 'node:assert/strict';
import {describe, it} from 'node:test';

import {startServer} from './harness.mjs';

describe('stopping', () => {
  it('answers the logins under way, writes its log and exits', async () => {
    const server = await startServer();
    try {
      const login = () => fetch(`${server.url}/api/login`, {
        method: 'POST',
        headers: {'Content-Type': 'application/json'},
        body: JSON.stringify({username: 'clerk001', password: 'clerk001pass'}),
      });
      assert.equal((await login()).status, 200);
      // Passwords are checked two at a time, a tenth of a second or so each: most of eight
      // logins are still under way when the signal comes.
      const underWay = Array.from({length: 8}, login);
      await new Promise((r) => setTimeout(r, 200));
      server.signal('SIGTERM');
      const answers = await Promise.all(underWay);
      assert.deepEqual(answers.map((r) => r.status), Array(8).fill(200));
      assert.equal(await server.exited, 0);
      const log = await server.log();
      assert.match(log, / - - - stopping /);
      assert.match(log, / - - - stop\s*$/);
    } finally {
      await server.stop();
    }
  });
});
