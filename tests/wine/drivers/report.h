/*
 * The probe's report: plain lines written to C:\zerval-probe.txt as they are
 * made.  Each line starts with what is about to be called and is flushed to
 * the file before the call, so a report cut short by a crash ends with the
 * call that never returned.
 */
#ifndef ZPROBE_REPORT_H
#define ZPROBE_REPORT_H

#include <ntddk.h>

/* Opens the report file (replacing an earlier one); FALSE when it cannot. */
BOOLEAN ReportOpen(void);
/* Writes what is buffered; FALSE once a write has failed. */
BOOLEAN ReportFlush(void);
void ReportClose(void);

void Text(const char *text);
void Decimal(ULONG value);
void Hex(ULONG value); /* 0x0000ABCD: 0x and eight hex digits */
void HexByte(UCHAR value); /* 0xAB */
void Boolean(ULONG value); /* TRUE, FALSE, or the number when it is neither 0 nor 1 */
/* Ends the line and writes it out. */
void EndLine(void);

#endif
