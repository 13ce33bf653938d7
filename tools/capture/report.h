// volmirax report: a capture as one self-contained HTML page (no network:
// styles, scripts, data and pictures are all in the file).
#ifndef VOLMIRAX_REPORT_H
#define VOLMIRAX_REPORT_H

#include <string>

#include "exchanges.h"

// The page for the exchanges of a capture read from `source` (its name is
// shown on the page).
std::string ReportPage(const std::string &source, const Capture &capture);

#endif
