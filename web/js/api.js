// The JSON protocol with the server, one request at a time in the order they were made.
//
//   const api = new Api({onBusy, onExpired});   // onExpired({error, code}) on a 401
//   await api.login('clerk001', '…');          // {ok, status, data}
//   const r = await api.event({kind: 'click', target: 'pb_5'});
//   r.data.state, r.data.result                 // the new state, the event's outcome
//
// The server sends the whole state on the first load and then only what changed since the
// version the browser holds (X-State-Version): the Api keeps the document, applies the
// changes, and hands every answer out with its `state` as a whole. Should the versions not
// match (an answer lost on the way), it fetches the whole state again.
//
// Events queue behind each other: the session handles one event at a time anyway, and the
// state that comes back must belong to the last one. Consecutive `filter` events of the same
// cell that have not been sent yet collapse into the newest, so typing quickly does not pile
// up requests.

import {applyChanges} from './state_diff.js';

export class Api {
  constructor({onBusy = () => {}, onExpired = () => {}} = {}) {
    this.csrf = '';
    this.onBusy = onBusy;
    this.onExpired = onExpired;
    this.inFlight = 0;
    this.queue = [];
    this.pumping = false;
    this.doc = null;       // the state document as of `version`
    this.version = null;
  }

  // Takes the state of an answer; false when its changes are of a version not held.
  takeState(data) {
    if (!data || data.version === undefined) return true;
    if (data.state) {
      this.doc = data.state;
      this.version = data.version;
      return true;
    }
    if (!Array.isArray(data.changes) || !this.doc || data.base !== this.version) return false;
    this.doc = applyChanges(this.doc, data.changes);
    this.version = data.version;
    data.state = this.doc;
    return true;
  }

  async request(method, path, body) {
    const headers = {Accept: 'application/json'};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (method !== 'GET' && this.csrf) headers['X-CSRF-Token'] = this.csrf;
    if (this.version !== null) headers['X-State-Version'] = String(this.version);
    this.busy(+1);
    try {
      const response = await fetch(path, {
        method,
        headers,
        body: body === undefined ? undefined : JSON.stringify(body),
        credentials: 'same-origin',
        cache: 'no-store',
      });
      let data = null;
      if ((response.headers.get('Content-Type') || '').startsWith('application/json')) {
        data = await response.json().catch(() => null);
      }
      if (response.status === 401 && path !== '/api/login') this.onExpired(data || {});
      if (data && !this.takeState(data)) {
        this.version = null;
        const whole = await this.request('GET', '/api/state');
        if (whole.ok) data.state = whole.data.state;
      }
      return {ok: response.ok, status: response.status, data: data || {}};
    } catch (err) {
      return {ok: false, status: 0, data: {error: '无法连接服务器，请检查网络后重试'}};
    } finally {
      this.busy(-1);
    }
  }

  busy(delta) {
    this.inFlight += delta;
    this.onBusy(this.inFlight > 0);
  }

  async login(username, password) {
    const r = await this.request('POST', '/api/login', {username, password});
    if (r.ok) this.csrf = r.data.csrf;
    return r;
  }

  async logout() {
    const r = await this.request('POST', '/api/logout', {});
    this.csrf = '';
    this.doc = null;
    this.version = null;
    return r;
  }

  async state() {
    this.version = null;
    const r = await this.request('GET', '/api/state');
    if (r.ok) this.csrf = r.data.csrf;
    return r;
  }

  units() {
    return this.request('GET', '/api/units');
  }

  previewInfo(control) {
    return this.request('GET', `/api/preview/${encodeURIComponent(control)}.json`);
  }

  // Rows [from, from + count) of a long list of the active window: the answer's state holds
  // them. Queued with the events, as it answers the state too.
  rows(control, from, count) {
    return this.enqueue({path: `/api/rows/${encodeURIComponent(control)}.json?from=${from}&count=${count}`});
  }

  // The first row at or after `from` of a list of the active window whose column starts with
  // `text`, searched over the whole list on the server: {row} (0 when none).
  find(control, column, text, from = 1) {
    const query = `column=${encodeURIComponent(column)}&text=${encodeURIComponent(text)}&from=${from}`;
    return this.request('GET', `/api/find/${encodeURIComponent(control)}.json?${query}`);
  }

  // A file the server makes for the session (an exported list): {ok, blob, fileName} or
  // {ok: false, error}. Queued with the events, so that it is of the state they leave.
  download(path) {
    return this.enqueue({run: () => this.fetchFile(path)});
  }

  async fetchFile(path) {
    this.busy(+1);
    try {
      const response = await fetch(path, {credentials: 'same-origin', cache: 'no-store'});
      if (!response.ok) {
        const data = await response.json().catch(() => ({}));
        if (response.status === 401) this.onExpired(data);
        return {ok: false, error: data.error};
      }
      const disposition = response.headers.get('Content-Disposition') || '';
      const encoded = /filename\*=UTF-8''([^;]+)/i.exec(disposition);
      return {ok: true, blob: await response.blob(), fileName: encoded ? decodeURIComponent(encoded[1]) : ''};
    } catch (err) {
      return {ok: false, error: '无法连接服务器，请检查网络后重试'};
    } finally {
      this.busy(-1);
    }
  }

  enqueue(item) {
    return new Promise((resolve) => {
      this.queue.push({...item, resolve});
      this.pump();
    });
  }

  // Posts one event after those queued before it. Answers {ok, status, data} or, for a
  // filter replaced by a newer one before it was sent, null.
  event(event) {
    return new Promise((resolve) => {
      if (event.kind === 'filter') {
        this.queue = this.queue.filter((q) => {
          const same = q.event && q.event.kind === 'filter' && q.event.target === event.target &&
                       q.event.row === event.row && q.event.column === event.column;
          if (same) q.resolve(null);
          return !same;
        });
      }
      this.queue.push({event, resolve});
      this.pump();
    });
  }

  get idle() {
    return this.queue.length === 0 && !this.pumping;
  }

  get pending() {
    return this.queue.length;
  }

  async pump() {
    if (this.pumping) return;
    this.pumping = true;
    try {
      while (this.queue.length) {
        const {event, path, run, resolve} = this.queue.shift();
        resolve(await (event ? this.request('POST', '/api/event', event) : run ? run() : this.request('GET', path)));
      }
    } finally {
      this.pumping = false;
    }
  }
}
