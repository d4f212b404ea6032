#pragma once

// keldro-cli's exit statuses, one meaning each; --help and the man page list them.
enum ExitStatus {
    Done = 0,
    LinkFailed = 1,  // during the run: a port lost with --no-reconnect, a full disk; check:
                     // a port that sent no frame at all, or was lost and not back by the end;
                     // a [health] limit not measured
    UsageError = 2,  // a command, option or value that makes no sense; a malformed file
    CannotStart = 3, // no such port, port busy or not permitted, server unreachable, file
                     // not writable
    AlarmRaised = 4, // check: an alarm was raised, even if it cleared later, frames stopped
                     // for longer than the stale time, or a [health] limit failed
};
