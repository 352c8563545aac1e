// The JSON protocol with the server, one request at a time in the order they were made.
//
//   const api = new Api({onBusy, onExpired});
//   await api.login('clerk001', '…');          // {ok, status, data}
//   const r = await api.event({kind: 'click', target: 'pb_5'});
//   r.data.state, r.data.result                 // the new state, the event's outcome
//
// Events queue behind each other: the session handles one event at a time anyway, and the
// state that comes back must belong to the last one. Consecutive `filter` events of the same
// cell that have not been sent yet collapse into the newest, so typing quickly does not pile
// up requests.

export class Api {
  constructor({onBusy = () => {}, onExpired = () => {}} = {}) {
    this.csrf = '';
    this.onBusy = onBusy;
    this.onExpired = onExpired;
    this.inFlight = 0;
    this.queue = [];
    this.pumping = false;
  }

  async request(method, path, body) {
    const headers = {Accept: 'application/json'};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (method !== 'GET' && this.csrf) headers['X-CSRF-Token'] = this.csrf;
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
      if (response.status === 401 && path !== '/api/login') this.onExpired(data && data.error);
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
    return r;
  }

  async state() {
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

  // Posts one event after those queued before it. Answers {ok, status, data} or, for a
  // filter replaced by a newer one before it was sent, null.
  event(event) {
    return new Promise((resolve) => {
      if (event.kind === 'filter') {
        this.queue = this.queue.filter((q) => {
          const same = q.event.kind === 'filter' && q.event.target === event.target &&
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
        const {event, resolve} = this.queue.shift();
        resolve(await this.request('POST', '/api/event', event));
      }
    } finally {
      this.pumping = false;
    }
  }
}
