// volmirax report: a capture as one self-contained HTML page (no network:
// styles, scripts, data and pictures are all in the file).
//
// Built an event at a time in memory that does not grow with the capture:
// counts, histograms and per-hour buckets, the exchanges that need a look
// (the first kKeptMax of them, with their bytes), and the first kTableMax
// exchanges for the table; the page says what it left out.
#ifndef VOLMIRAX_REPORT_H
#define VOLMIRAX_REPORT_H

#include <memory>
#include <string>

#include "exchanges.h"

class ReportBuilder {
public:
    static const size_t kKeptMax = 2000, kTableMax = 5000;
    explicit ReportBuilder(const std::string &source);
    ~ReportBuilder();
    void Add(const CaptureEvent &e);
    std::string Page();  // once every event is in

private:
    struct State;
    std::unique_ptr<State> s_;
};

// The page of a whole capture in memory (its name `source` on the page).
std::string ReportPage(const std::string &source, const Capture &capture);

#endif
