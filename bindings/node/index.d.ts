// Types of the volmirax package.
/// <reference types="node" />

export interface OpenOptions {
  /** 1200, 2400, 4800, 9600 (default), 19200, 38400, 57600 or 115200; any other rate opens at 9600. */
  baud?: number;
  /** The library to load, overriding the one the package carries and the system's. */
  library?: string;
}

export interface Timeouts {
  /** Milliseconds for the acknowledgement (default 1000). */
  ackTimeout?: number;
  /** Milliseconds for the whole reply, from the request (default 3000). */
  replyTimeout?: number;
  /** Milliseconds for the abort's echo (default 500). */
  eotTimeout?: number;
}

/** A byte parameter: a number 0..255, or a one-character string such as '0'. */
export type ByteParam = number | string;

export class VolmiraxError extends Error {
  /** The call's result code (null when a port did not open). */
  readonly code: number | null;
}

/** A failure the library detected, with the name and meaning of its code. */
export class LibraryError extends VolmiraxError {
  readonly code: number;
  readonly codeName: string;
  readonly meaning: string;
}

/** A negative reply of the device. */
export class DeviceError extends VolmiraxError {
  readonly code: number;
  /** s1 * 256 + s2 - 0x3030 of the two status characters. */
  readonly status: number;
  /** The reply data, status bytes first, where the call hands it out (send), else null. */
  readonly data: Buffer | null;
}

/** The port did not open. */
export class OpenError extends VolmiraxError {
  readonly code: null;
  /** What was opened: the path, or COM3 (/dev/ttyS2). */
  readonly device: string;
  /** The system's reason: errno on Linux, the Win32 error on Windows. */
  readonly reason: number;
  readonly errno?: number;
}

/**
 * An open serial port with the card device on it: a COM port number, or on
 * Linux a device path. Calls on one port run one at a time; close() while a
 * call runs takes effect when it returns. A port that is garbage-collected
 * is closed.
 */
export class Port {
  constructor(port: number | string, options?: OpenOptions);
  static open(port: number | string, options?: OpenOptions): Port;
  readonly device: string;
  readonly closed: boolean;
  close(): void;

  /** One command exchange (SendCmd): the reply data, status bytes first. */
  send(command: Buffer | Uint8Array | string, timeouts?: Timeouts): Buffer;
  sendAsync(command: Buffer | Uint8Array | string, timeouts?: Timeouts): Promise<Buffer>;
  /** The abort exchange (SendEot). */
  sendEot(eotTimeout?: number): void;
  sendEotAsync(eotTimeout?: number): Promise<void>;
  /** ReSet with the parameter code and seven data bytes. */
  reset(pm: ByteParam, d1: ByteParam, d2: ByteParam, d3: ByteParam, d4: ByteParam, d5: ByteParam,
        d6: ByteParam, d7: ByteParam): void;
  resetAsync(pm: ByteParam, d1: ByteParam, d2: ByteParam, d3: ByteParam, d4: ByteParam, d5: ByteParam,
             d6: ByteParam, d7: ByteParam): Promise<void>;
  /** EjectCard with the parameter code. */
  eject(pm: ByteParam): void;
  ejectAsync(pm: ByteParam): Promise<void>;
  /** GetMachineVersion: the version data without the buffer's zero padding. */
  version(): Buffer;
  versionAsync(): Promise<Buffer>;
}

/** The library's result codes: name and meaning by code. */
export const CODES: Readonly<Record<string, { readonly name: string; readonly meaning: string }>>;
export const MAX_REPLY_DATA: 993;
export const MAX_VERSION: 253;
export const ERR_NO_PORT: -101;
/** The library Port loads: `library` if given, else the one the package carries for this platform, else the system's. */
export function libraryPath(library?: string): string;
