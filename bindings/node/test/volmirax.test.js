// The Node.js package against the device simulator on Linux: every call,
// sync and async, every error class, promises on one port and on two,
// close during a call, bad arguments, and the table of codes against the
// header. VOLMIRAX_LIBRARY (optional) names the library, DEVSIM the
// simulator, VOLMIRAX_HEADER_DIR the folder of volmirax.h.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const volmirax = require('volmirax');
const { Port, DeviceError, LibraryError, OpenError, VolmiraxError } = volmirax;

const library = process.env.VOLMIRAX_LIBRARY || undefined;
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'volmirax-node.'));
const sims = [];

async function simulator(name) {
  const link = path.join(folder, name);
  const sim = spawn(process.env.DEVSIM, ['--link', link, '--control', '--pace', '0',
    '--on', '<=data=VMX SIM 2', '--on', '1=data=CARD 4711', '--on', '3=ackdelay=800',
    '--on', '5=marker=N,status=02,data=xy', '--on', '9=silent,eotnone'], { stdio: 'ignore' });
  sims.push(sim);
  for (let i = 0; i < 50 && !fs.existsSync(link); i += 1) await new Promise((r) => setTimeout(r, 100));
  return link;
}

// The bytes the device received since the last look, as hex.
function heard(port) {
  return port.send('~ wire', { ackTimeout: 5000, replyTimeout: 20000 }).subarray(2).toString().trim();
}

let line;
let second;
test.before(async () => {
  line = await simulator('ttyA');
  second = await simulator('ttyB');
});
test.after(() => {
  for (const s of sims) s.kill();
  fs.rmSync(folder, { recursive: true, force: true });
});

test('the package loads the library it carries for this platform, or the one given', () => {
  const carried = path.join(path.dirname(require.resolve('volmirax')), 'lib', `${process.platform}-${process.arch}`);
  assert.strictEqual(volmirax.libraryPath(), fs.existsSync(carried) ? path.join(carried, 'libvolmirax.so.1') : 'libvolmirax.so.1');
  assert.strictEqual(volmirax.libraryPath('/x/libvolmirax.so.1'), '/x/libvolmirax.so.1');
});

test('every call, blocking and as a promise', async () => {
  const port = new Port(line, { library });
  try {
    assert.strictEqual(port.version().toString(), 'VMX SIM 2');
    assert.strictEqual((await port.versionAsync()).toString(), 'VMX SIM 2');
    assert.strictEqual(port.send('10').toString(), '00CARD 4711');
    assert.strictEqual((await port.sendAsync(Buffer.from('10'))).toString(), '00CARD 4711');
    port.eject('0');
    await port.ejectAsync(0x30);
    port.reset('0', 1, 2, 3, 4, 5, 6, 7);
    await port.resetAsync(0x30, 1, 2, 3, 4, 5, 6, 7);
    port.sendEot(500);
    await port.sendEotAsync();
    heard(port);
    port.eject('1');
    assert.match(heard(port), /^02 43 33 31 03/, 'the parameter code goes out as given');
  } finally {
    port.close();
  }
});

test('each failure is its error class, with code, name and meaning', async () => {
  const port = Port.open(line, { library });
  try {
    let e = null;
    try { port.send('50'); } catch (err) { e = err; }
    assert.ok(e instanceof DeviceError && e instanceof VolmiraxError);
    assert.strictEqual(e.status, 2);
    assert.strictEqual(e.data.toString(), '02xy');
    await assert.rejects(port.sendAsync('90', { ackTimeout: 100, replyTimeout: 100, eotTimeout: 100 }), (err) =>
      err instanceof LibraryError && err.code === -110 && err.codeName === 'ERR_ACK_TIMEOUT' &&
      err.meaning === 'no acknowledgement within the acknowledgement time-out');
  } finally {
    port.close();
  }
  assert.throws(() => new Port(path.join(folder, 'no-such-port'), { library }), (err) =>
    err instanceof OpenError && err.errno === 2 && /did not open: No such file or directory/.test(err.message));
  assert.throws(() => new Port(250, { library }), (err) =>
    err instanceof OpenError && /COM250 \(\/dev\/ttyS249\) did not open/.test(err.message));
  const held = new Port(line, { library });
  assert.throws(() => new Port(line, { library }), (err) => err instanceof OpenError && err.errno === 16);
  held.close();
});

test('promises on one port run one at a time, in order, and keep the event loop turning', async () => {
  const port = new Port(line, { library });
  let ticks = 0;
  const ticker = setInterval(() => { ticks += 1; }, 50);
  try {
    const slow = port.ejectAsync('0');  // acknowledged after 800 ms
    const results = await Promise.all([slow, ...Array.from({ length: 10 }, () => port.sendAsync('10'))]);
    assert.deepStrictEqual(results.slice(1).map((b) => b.toString()), Array(10).fill('00CARD 4711'));
    assert.ok(ticks >= 5, `the event loop turned ${ticks} times during an 800-ms wait`);
    assert.throws(() => { port.sendAsync('10'); port.send('10'); }, /still running/);
  } finally {
    clearInterval(ticker);
    await new Promise((r) => setTimeout(r, 300));
    port.close();
  }
});

test('calls on two ports run at the same time', async () => {
  const a = new Port(line, { library });
  const b = new Port(second, { library });
  try {
    const order = [];
    await Promise.all([
      a.sendAsync('30').catch(() => {}).then(() => order.push('slow')),  // acknowledged after 800 ms
      b.sendAsync('10').then(() => order.push('fast')),
    ]);
    assert.deepStrictEqual(order, ['fast', 'slow']);
  } finally {
    a.close();
    b.close();
  }
});

test('close during a call takes effect when the call returns', async () => {
  const port = new Port(line, { library });
  const call = port.sendAsync('90', { ackTimeout: 300, replyTimeout: 100, eotTimeout: 100 });
  port.close();
  assert.strictEqual(port.closed, false, 'still open while the call runs');
  await assert.rejects(call, (err) => err.code === -110, 'the call ran to its own end');
  assert.strictEqual(port.closed, true);
  await assert.rejects(port.sendAsync('10'), (err) => err instanceof LibraryError && err.codeName === 'ERR_NO_PORT');
  assert.throws(() => port.eject('0'), (err) => err.codeName === 'ERR_NO_PORT');
  port.close();
  const again = new Port(line, { library });  // the port is free again
  again.close();
});

test('a port that is garbage-collected is closed', async () => {
  assert.ok(global.gc, 'run with --expose-gc');
  (() => { new Port(line, { library }); })();  // opened and dropped
  let reopened = null;
  for (let i = 0; i < 50 && !reopened; i += 1) {
    global.gc();
    await new Promise((r) => setTimeout(r, 20));
    try { reopened = new Port(line, { library }); } catch (e) { if (!(e instanceof OpenError)) throw e; }
  }
  assert.ok(reopened, 'the dropped port was never closed: the line stayed in use');
  reopened.close();
});

test('a bad argument is a TypeError or RangeError, and nothing is sent', async () => {
  const port = new Port(line, { library });
  try {
    heard(port);
    const cases = [
      [() => port.send('1'), RangeError],
      [() => port.send(42), TypeError],
      [() => port.send('10', { ackTimeout: 2 ** 32 + 300 }), RangeError],
      [() => port.send('10', { replyTimeout: 1.5 }), TypeError],
      [() => port.send('10', null), TypeError],
      [() => port.eject(256), RangeError],
      [() => port.eject('00'), TypeError],
      [() => port.reset('0', 1, 2), TypeError],
      [() => port.sendEot('soon'), TypeError],
    ];
    for (const [call, type] of cases) assert.throws(call, type);
    await assert.rejects(port.sendAsync('1'), RangeError);
    await assert.rejects(port.ejectAsync(-1), RangeError);
    assert.strictEqual(heard(port), '', 'nothing reached the device');
  } finally {
    port.close();
  }
  assert.throws(() => new Port({}), TypeError);
  assert.throws(() => new Port('/dev/tty\0S0'), TypeError);
  assert.throws(() => new Port(line, { baud: 2 ** 40 }), RangeError);
});

test('the table of codes is the header\'s', () => {
  const dir = process.env.VOLMIRAX_HEADER_DIR;
  const header = fs.readFileSync(path.join(dir, 'volmirax.h'), 'utf8');
  const codes = fs.readFileSync(path.join(dir, 'volmirax_codes.h'), 'utf8');
  const rows = [...codes.matchAll(/\{(ERR_\w+), "(\w+)", "([^"]*)"\}/g)];
  const table = {};
  for (const [, macro, name, meaning] of rows) {
    const value = Number(header.match(new RegExp(`#define ${macro}\\s+\\(?(-?\\d+)`))[1]);
    table[value] = { name, meaning };
  }
  assert.deepStrictEqual({ ...volmirax.CODES }, table);
});
