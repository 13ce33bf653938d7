// VOLMIRAX for Node.js and Electron: the library's exports through koffi,
// and Port, which turns result codes into errors. Every call has a
// promise-returning twin (sendAsync, ...) that runs it on a worker thread,
// so that an Electron window never freezes during a 3-second wait.
'use strict';

const fs = require('fs');
const path = require('path');
const koffi = require('koffi');

const CODES = require('./codes.js');

const MAX_REPLY_DATA = 993;
const MAX_VERSION = 253;
const ERR_NO_PORT = -101;
const WINDOWS = process.platform === 'win32';
const SYSTEM_LIBRARY = WINDOWS ? 'VOLMIRAX.dll' : 'libvolmirax.so.1';

// ---------------------------------------------------------------- errors

/** Any failure of a VOLMIRAX call; `code` is the call's result code. */
class VolmiraxError extends Error {
  constructor(message, code) {
    super(message);
    this.name = this.constructor.name;
    this.code = code;
  }
}

/** A failure the library detected: a negative code from its table. */
class LibraryError extends VolmiraxError {
  constructor(code) {
    const entry = CODES[code] || { name: 'UNKNOWN', meaning: 'not a code of the library' };
    super(`${entry.name} (${code}): ${entry.meaning}`, code);
    this.codeName = entry.name;
    this.meaning = entry.meaning;
  }
}

/** A negative reply of the device: `status` is its status code (s1 * 256 +
 * s2 - 0x3030), `data` the reply data, status bytes first, where the call
 * hands it out (send), else null. */
class DeviceError extends VolmiraxError {
  constructor(status, data = null) {
    super(`the device answered with status code ${status}`, status);
    this.status = status;
    this.data = data;
  }
}

/** The port did not open: `reason` is the system's number (errno on Linux,
 * the Win32 error on Windows), `message` says it in words. */
class OpenError extends VolmiraxError {
  constructor(device, reason, words) {
    super(`${device} did not open: ${words}`, null);
    this.device = device;
    this.reason = reason;
    this.errno = WINDOWS ? undefined : reason;
  }
}

// A result code as an error: a code of the library's table is the
// library's, any other the device's status (the result alone cannot tell
// them apart where they coincide; send() can, and does).
function failureOf(code) {
  if (code === 0) return null;
  return CODES[code] ? new LibraryError(code) : new DeviceError(code);
}

// --------------------------------------------------------------- library

// The library carried in the package for this platform, then the system's;
// an explicit path overrides both.
function libraryPath(explicit) {
  if (explicit !== undefined && explicit !== null) {
    if (typeof explicit !== 'string' || explicit.length === 0)
      throw new TypeError('library must be a path');
    return explicit;
  }
  const carried = path.join(__dirname, 'lib', `${process.platform}-${process.arch}`, SYSTEM_LIBRARY);
  return fs.existsSync(carried) ? carried : SYSTEM_LIBRARY;
}

const loaded = new Map();

// The exports, declared exactly (stdcall on 32-bit Windows; OpenCommPath is
// cdecl and Linux only).
function load(explicit) {
  const where = libraryPath(explicit);
  if (loaded.has(where)) return loaded.get(where);
  const lib = koffi.load(where);
  const api = {
    where,
    OpenComm: lib.func('void * __stdcall OpenComm(int port, int baud)'),
    OpenCommPath: WINDOWS ? null : lib.func('void * OpenCommPath(const char *device, int baud)'),
    CloseComm: lib.func('int __stdcall CloseComm(_Inout_ void **port)'),
    SendCmd: lib.func('int __stdcall SendCmd(void *port, const uint8_t *cmd, uint32_t cmdLen, ' +
      '_Out_ uint8_t *replyData, _Inout_ uint32_t *replyLen, int ack, int reply, int eot)'),
    SendEot: lib.func('int __stdcall SendEot(void *port, int eot)'),
    ReSet: lib.func('int __stdcall ReSet(void *port, int pm, int d1, int d2, int d3, int d4, int d5, int d6, int d7)'),
    EjectCard: lib.func('int __stdcall EjectCard(void *port, int pm)'),
    GetMachineVersion: lib.func('int __stdcall GetMachineVersion(void *port, _Out_ uint8_t *version)'),
    GetLastError: WINDOWS ? koffi.load('kernel32.dll').func('uint32_t __stdcall GetLastError()') : null,
  };
  loaded.set(where, api);
  return api;
}

// ------------------------------------------------------------- arguments

function int32(name, value) {
  if (typeof value !== 'number' || !Number.isInteger(value))
    throw new TypeError(`${name} must be an integer`);
  if (value < -0x80000000 || value > 0x7fffffff)
    throw new RangeError(`${name}=${value} does not fit in a C int`);
  return value;
}

// A byte parameter: a number 0..255, or a one-character string ('0').
function byte(name, value) {
  if (typeof value === 'string' && value.length === 1 && value.charCodeAt(0) < 256) return value.charCodeAt(0);
  if (typeof value !== 'number' || !Number.isInteger(value))
    throw new TypeError(`${name} must be a byte (0 to 255) or a one-character string`);
  if (value < 0 || value > 255) throw new RangeError(`${name}=${value} is not a byte`);
  return value;
}

function timeouts(options) {
  if (options === undefined) options = {};
  if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
  return [
    int32('ackTimeout', options.ackTimeout === undefined ? 1000 : options.ackTimeout),
    int32('replyTimeout', options.replyTimeout === undefined ? 3000 : options.replyTimeout),
    int32('eotTimeout', options.eotTimeout === undefined ? 500 : options.eotTimeout),
  ];
}

function commandBytes(command) {
  if (typeof command === 'string') command = Buffer.from(command, 'latin1');
  if (!(command instanceof Uint8Array)) throw new TypeError('command must be a Buffer, a Uint8Array or a string');
  if (command.length < 2) throw new RangeError('command needs at least the command code and the parameter code');
  return Buffer.from(command);
}

// ------------------------------------------------------------------ port

// Ports that were never closed are closed when they are collected.
const collector = new FinalizationRegistry((held) => {
  if (held.handle) held.api.CloseComm([held.handle]);
});

/**
 * An open serial port with the card device on it. `port` is a COM port
 * number (OpenComm) or, on Linux, a device path (OpenCommPath). Calls on
 * one port run one at a time, in the order they were made; close() while
 * a call runs takes effect when the call returns.
 */
class Port {
  constructor(port, options = {}) {
    if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
    const baud = int32('baud', options.baud === undefined ? 9600 : options.baud);
    let device;
    let opener;
    if (typeof port === 'string') {
      if (WINDOWS) throw new TypeError('on Windows, pass the COM port number');
      if (port.includes('\0')) throw new TypeError('a device path cannot hold a NUL character');
      device = port;
      opener = (api) => api.OpenCommPath(port, baud);
    } else if (typeof port === 'number' && Number.isInteger(port)) {
      int32('port', port);
      device = WINDOWS || port < 1 ? `COM${port}` : `COM${port} (/dev/ttyS${port - 1})`;
      opener = (api) => api.OpenComm(port, baud);
    } else {
      throw new TypeError('port must be a COM port number or a device path');
    }
    this._api = load(options.library);
    const handle = opener(this._api);
    if (!handle) {
      const reason = WINDOWS ? this._api.GetLastError() : koffi.errno();
      throw new OpenError(device, reason, WINDOWS ? `system error ${reason}` : systemWords(reason));
    }
    this.device = device;
    this._held = { api: this._api, handle };
    this._queue = Promise.resolve();
    this._busy = 0;
    this._closeWhenIdle = false;
    collector.register(this, this._held, this);
  }

  /** The same as `new Port(port, options)`. */
  static open(port, options) {
    return new Port(port, options);
  }

  get closed() {
    return this._held.handle === null;
  }

  /** Closes the port (CloseComm); nothing happens when it is already
   * closed. While calls made before it are still running or waiting on
   * the port, the close takes effect when the last of them returns; calls
   * made after close() fail with ERR_NO_PORT. */
  close() {
    if (this._busy > 0) {
      this._closeWhenIdle = true;
      return;
    }
    this._release();
  }

  _release() {
    const handle = this._held.handle;
    this._held.handle = null;
    this._closeWhenIdle = false;
    collector.unregister(this);
    if (handle) this._api.CloseComm([handle]);
  }

  _handleForCall() {
    return this._closeWhenIdle ? null : this._held.handle;
  }

  // One export, now, on this thread.
  _now(name, args) {
    if (this._busy > 0) throw new Error('a call is still running on this port: await it, or use the Async calls');
    return this._api[name](this._handleForCall(), ...args);
  }

  // One export on a worker thread, after the calls made before it. A call
  // made before close() runs with the port; the close waits for it.
  _later(name, args) {
    const handle = this._handleForCall();
    const run = () => new Promise((resolve, reject) => {
      this._api[name].async(handle, ...args, (err, rc) => (err ? reject(err) : resolve(rc)));
    });
    this._busy += 1;
    const result = this._queue.then(run);
    this._queue = result.then(() => this._done(), () => this._done());
    return result;
  }

  _done() {
    this._busy -= 1;
    if (this._busy === 0 && this._closeWhenIdle) this._release();
  }

  _sendArgs(command, options) {
    const [ack, reply, eot] = timeouts(options);
    const cmd = commandBytes(command);
    const data = Buffer.alloc(MAX_REPLY_DATA);
    const length = [0xffffffff];  // written only when a checked reply came
    return { args: [cmd, cmd.length, data, length, ack, reply, eot], data, length };
  }

  static _sendResult(rc, data, length) {
    if (length[0] === 0xffffffff) {
      const failure = failureOf(rc);
      if (failure) throw failure;
      return Buffer.alloc(0);
    }
    const out = Buffer.from(data.subarray(0, length[0]));
    if (rc !== 0) throw new DeviceError(rc, out);
    return out;
  }

  /** One command exchange (SendCmd): the reply data, status bytes first. */
  send(command, options) {
    const s = this._sendArgs(command, options);
    return Port._sendResult(this._now('SendCmd', s.args), s.data, s.length);
  }

  async sendAsync(command, options) {
    const s = this._sendArgs(command, options);
    return Port._sendResult(await this._later('SendCmd', s.args), s.data, s.length);
  }

  /** The abort exchange (SendEot). */
  sendEot(eotTimeout = 500) {
    Port._check(this._now('SendEot', [int32('eotTimeout', eotTimeout)]));
  }

  async sendEotAsync(eotTimeout = 500) {
    Port._check(await this._later('SendEot', [int32('eotTimeout', eotTimeout)]));
  }

  /** Resets the device (ReSet) with parameter code pm and seven data bytes. */
  reset(pm, ...data) {
    Port._check(this._now('ReSet', Port._resetArgs(pm, data)));
  }

  async resetAsync(pm, ...data) {
    Port._check(await this._later('ReSet', Port._resetArgs(pm, data)));
  }

  static _resetArgs(pm, data) {
    if (data.length !== 7) throw new TypeError('reset takes the parameter code and seven data bytes');
    return [byte('pm', pm), ...data.map((d, i) => byte(`d${i + 1}`, d))];
  }

  /** Ejects the card (EjectCard) with parameter code pm. */
  eject(pm) {
    Port._check(this._now('EjectCard', [byte('pm', pm)]));
  }

  async ejectAsync(pm) {
    Port._check(await this._later('EjectCard', [byte('pm', pm)]));
  }

  /** The device's version data (GetMachineVersion), without the buffer's
   * zero padding. */
  version() {
    const buffer = Buffer.alloc(MAX_VERSION + 1);
    Port._check(this._now('GetMachineVersion', [buffer]));
    return Port._versionOf(buffer);
  }

  async versionAsync() {
    const buffer = Buffer.alloc(MAX_VERSION + 1);
    Port._check(await this._later('GetMachineVersion', [buffer]));
    return Port._versionOf(buffer);
  }

  static _versionOf(buffer) {
    let end = MAX_VERSION;
    while (end > 0 && buffer[end - 1] === 0) end -= 1;
    return Buffer.from(buffer.subarray(0, end));
  }

  static _check(rc) {
    const failure = failureOf(rc);
    if (failure) throw failure;
  }
}

// errno in words, as the system says it.
function systemWords(errno) {
  try {
    const libc = koffi.load('libc.so.6');
    const strerror = libc.func('const char *strerror(int errnum)');
    return `${strerror(errno)} (errno ${errno})`;
  } catch (e) {
    return `errno ${errno}`;
  }
}

module.exports = {
  Port,
  VolmiraxError,
  LibraryError,
  DeviceError,
  OpenError,
  CODES,
  MAX_REPLY_DATA,
  MAX_VERSION,
  ERR_NO_PORT,
  libraryPath,
};
