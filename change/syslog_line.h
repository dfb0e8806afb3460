// One line to the system log, where fleets collect logs: sent without
// waiting on the log daemon (a daemon that does not read is never waited
// for; the line is lost instead), and silently nowhere on a host without
// one.
#ifndef CHANGE_SYSLOG_LINE_H
#define CHANGE_SYSLOG_LINE_H

void syslog_notice(const char *tag, const char *message);

#endif
