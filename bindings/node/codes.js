// The library's result codes, their names and meanings: the table of
// include/volmirax_codes.h (the tests check that it is the header's).
'use strict';

module.exports = Object.freeze({
  '0': Object.freeze({ name: 'OK', meaning: 'success' }),
  '-101': Object.freeze({ name: 'ERR_NO_PORT', meaning: 'the port handle is null' }),
  '-102': Object.freeze({ name: 'ERR_SET_TIMEOUTS', meaning: 'setting the port\'s time-outs failed' }),
  '-103': Object.freeze({ name: 'ERR_SETUP_QUEUES', meaning: 'setting the driver\'s queue sizes failed' }),
  '-104': Object.freeze({ name: 'ERR_WRITE', meaning: 'the write call failed' }),
  '-105': Object.freeze({ name: 'ERR_WRITE_SHORT', meaning: 'fewer bytes were written than asked' }),
  '-106': Object.freeze({ name: 'ERR_READ', meaning: 'the read call failed' }),
  '-107': Object.freeze({ name: 'ERR_READ_SHORT', meaning: 'fewer bytes were read than asked' }),
  '-108': Object.freeze({ name: 'ERR_LINE_SETTINGS', meaning: 'reading, building or applying the line settings failed' }),
  '-110': Object.freeze({ name: 'ERR_ACK_TIMEOUT', meaning: 'no acknowledgement within the acknowledgement time-out' }),
  '-111': Object.freeze({ name: 'ERR_REPLY_TIMEOUT', meaning: 'the reply was not complete within the reply time-out' }),
  '-112': Object.freeze({ name: 'ERR_EOT_TIMEOUT', meaning: 'the echo of the abort sequence did not arrive in time' }),
  '-113': Object.freeze({ name: 'ERR_NO_ACK', meaning: 'the acknowledgement does not start with ACK' }),
  '-114': Object.freeze({ name: 'ERR_ARGUMENT', meaning: 'an argument is missing or invalid' }),
  '-115': Object.freeze({ name: 'ERR_EOT_ECHO', meaning: 'the echo of the abort sequence is wrong' }),
  '-116': Object.freeze({ name: 'ERR_BCC', meaning: 'the reply\'s block check character is wrong, or the reply is shorter than 6 or longer than 999 bytes' }),
  '-117': Object.freeze({ name: 'ERR_ECHO', meaning: 'the reply does not echo the command code and parameter code' }),
});
