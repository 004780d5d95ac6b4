// What zerval-sim prints: the run's header (profile, images, attach lines),
// the published list as a table or as JSON, the services driver's calls, an
// EDID.  Text from files (profile names, paths) is printed with anything
// unprintable as \xNN, so that nothing reaches the terminal raw.
#ifndef ZERVAL_SIM_TOOL_VIEWS_H
#define ZERVAL_SIM_TOOL_VIEWS_H

#include <cstddef>
#include <string>

#include "edid.h"
#include "session.h"

// The attach lines, each followed by the files its display driver wrote.
void PrintAttaches(const Session &s);
// "profile: ..." (or the real services driver), the real TV and display
// drivers, "image: ..." (or the backend), then the attach lines.
void PrintHeader(Session &s);
void PrintTable(Session &s);
void PrintJson(Session &s);
// The services driver's pfnQueryMode and pfnSetMode calls from the log's
// `from` on, one line each.
void PrintAsked(Session &s, CallMark from);
void PrintEdid(const std::string &path, const edid::Edid &e);

#endif
