// The report page's pictures, as inline SVG: a histogram of one delay with
// its time-outs and percentiles, and a command's exchanges over the
// capture's span. Counts come as histograms, so a picture of a month costs
// no more than one of a minute.
#ifndef VOLMIRAX_REPORT_CHARTS_H
#define VOLMIRAX_REPORT_CHARTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Delays counted in bins of kDelayBinUs: exact to that, any number of them.
const int64_t kDelayBinUs = 100;
struct DelayCounts {
    std::map<int64_t, int64_t> bins;  // bin -> count
    int64_t n = 0, maxUs = 0;
    int64_t unanswered = 0;           // no answer within the time-out
    std::map<int, int64_t> timeouts;  // time-out (ms) -> exchanges that gave it
    void Add(int64_t us);
    // The nearest-rank percentile (the smallest value with at least p of
    // the values at or below it), to the bin; the maximum is exact.
    double PercentileMs(double p) const;
};

// The histogram of `d` with round ticks, counts on the bars and on a y-axis,
// the time-outs as limits, p50 and p95 marked, and the exchanges that got no
// answer as a bar of their own past the limit.
std::string DelayHistogram(const std::string &title, const DelayCounts &d);

// Per bucket of the span: exchanges, failures, and the reply delay.
struct Bucket {
    int64_t n = 0, failed = 0, replied = 0, replySumUs = 0, replyMaxUs = 0;
    void Merge(const Bucket &b)
    {
        n += b.n;
        failed += b.failed;
        replied += b.replied;
        replySumUs += b.replySumUs;
        replyMaxUs = replyMaxUs > b.replyMaxUs ? replyMaxUs : b.replyMaxUs;
    }
};
// A command's exchanges over time, one bar per bucket (failures in red) and
// the mean and largest reply delay as lines; `label(i)` names bucket i.
std::string OverTime(const std::string &title, const std::vector<Bucket> &buckets,
                     const std::vector<std::string> &labels);

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw);
std::string Html(const std::string &s);
std::string Fixed(double v, int decimals);

#endif
