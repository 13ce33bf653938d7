#include "report_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void DelayCounts::Add(int64_t us)
{
    ++bins[us / kDelayBinUs];
    ++n;
    maxUs = std::max(maxUs, us);
}

double DelayCounts::PercentileMs(double p) const
{
    if (n == 0)
        return 0;
    const int64_t rank = std::max<int64_t>(1, (int64_t)std::ceil(p * (double)n));
    if (rank >= n)
        return maxUs / 1000.0;
    int64_t seen = 0;
    for (const auto &b : bins) {
        seen += b.second;
        if (seen >= rank)
            return std::min(maxUs, b.first * kDelayBinUs) / 1000.0;
    }
    return maxUs / 1000.0;
}

std::string Html(const std::string &s)
{
    std::string o;
    for (char c : s) {
        switch (c) {
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '&': o += "&amp;"; break;
        case '"': o += "&quot;"; break;
        default: o += c;
        }
    }
    return o;
}

std::string Fixed(double v, int decimals)
{
    char b[40];
    snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

double NiceStep(double raw)
{
    if (!(raw > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

namespace {

std::string Num(int64_t v) { return std::to_string(v); }

std::string Text(double x, double y, const std::string &cls, const std::string &text, const char *anchor = "middle")
{
    return "<text class=\"" + cls + "\" x=\"" + Fixed(x, 1) + "\" y=\"" + Fixed(y, 1) + "\" text-anchor=\"" + anchor +
           "\">" + Html(text) + "</text>";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string &cls)
{
    return "<line class=\"" + cls + "\" x1=\"" + Fixed(x1, 1) + "\" y1=\"" + Fixed(y1, 1) + "\" x2=\"" + Fixed(x2, 1) +
           "\" y2=\"" + Fixed(y2, 1) + "\"/>";
}

std::string Rect(double x, double y, double w, double h, const std::string &cls, const std::string &title)
{
    return "<rect class=\"" + cls + "\" x=\"" + Fixed(x, 1) + "\" y=\"" + Fixed(y, 1) + "\" width=\"" +
           Fixed(std::max(w, 0.5), 1) + "\" height=\"" + Fixed(std::max(h, 0.0), 1) + "\"><title>" + Html(title) +
           "</title></rect>";
}

// A y-axis of counts up to `most` with round ticks; the top the bars scale to.
int64_t CountAxis(std::string &svg, int64_t most, double left, double top, double bottom, double right)
{
    const double step = NiceStep(std::max<int64_t>(1, most) / 4.0);
    const int64_t istep = std::max<int64_t>(1, (int64_t)step);
    const int64_t ymax = ((std::max<int64_t>(1, most) + istep - 1) / istep) * istep;
    for (int64_t v = 0; v <= ymax; v += istep) {
        const double y = bottom - (bottom - top) * (double)v / (double)ymax;
        svg += Line(left, y, right, y, v == 0 ? "axis" : "grid") + Text(left - 4, y + 3, "tick", Num(v), "end");
    }
    return ymax;
}

}  // namespace

std::string DelayHistogram(const std::string &title, const DelayCounts &d)
{
    const double W = 540, H = 210, left = 48, right = W - 70, top = 38, bottom = H - 34;
    // the axis runs to a round value past the largest delay and time-out
    double hiMs = d.maxUs / 1000.0;
    for (const auto &t : d.timeouts)
        hiMs = std::max(hiMs, (double)t.first);
    const double tickMs = NiceStep(std::max(hiMs, 0.1) / 5);
    hiMs = std::ceil(std::max(hiMs, 0.1) * 1.0001 / tickMs) * tickMs;
    const int bins = std::max(5, std::min(40, (int)std::lround(hiMs / tickMs) * 4));
    const double binMs = hiMs / bins;
    std::vector<int64_t> count(bins, 0);
    for (const auto &b : d.bins)
        count[std::min<int64_t>(bins - 1, (int64_t)(b.first * kDelayBinUs / 1000.0 / binMs))] += b.second;
    int64_t most = d.unanswered;
    for (int64_t c : count)
        most = std::max(most, c);
    std::string svg = "<svg class=\"hist\" viewBox=\"0 0 " + Fixed(W, 0) + " " + Fixed(H, 0) + "\" width=\"" +
                      Fixed(W, 0) + "\" height=\"" + Fixed(H, 0) + "\" role=\"img\" aria-label=\"" + Html(title) + "\">";
    svg += Text(left, 14, "t", title, "start");
    const int64_t ymax = CountAxis(svg, most, left, top, bottom, right);
    svg += Text(12, (top + bottom) / 2, "tick", "exchanges", "middle").insert(5, " transform=\"rotate(-90 12 " +
                                                                                   Fixed((top + bottom) / 2, 1) + ")\"");
    const double sx = (right - left) / hiMs;
    auto barHeight = [&](int64_t c) { return (bottom - top) * (double)c / (double)ymax; };
    for (int i = 0; i < bins; ++i) {
        if (count[i] == 0)
            continue;
        const double h = barHeight(count[i]), x = left + i * binMs * sx;
        svg += Rect(x + 0.5, bottom - h, binMs * sx - 1, h, "bar",
                    Num(count[i]) + " between " + Fixed(i * binMs, 1) + " and " + Fixed((i + 1) * binMs, 1) + " ms");
        if (bins <= 40)
            svg += Text(x + binMs * sx / 2, bottom - h - 2, "count", Num(count[i]));
    }
    for (double v = 0; v <= hiMs + tickMs / 2; v += tickMs)
        svg += Line(left + v * sx, bottom, left + v * sx, bottom + 4, "axis") +
               Text(left + v * sx, bottom + 15, "tick", Fixed(v, tickMs < 1 ? 1 : 0) + (v + tickMs > hiMs + tickMs / 2 ? " ms" : ""));
    // the exchanges that got no answer, past the limit
    if (d.unanswered > 0) {
        const double h = barHeight(d.unanswered), x = right + 14;
        svg += Rect(x, bottom - h, 40, h, "bar none", Num(d.unanswered) + " got no answer within the time-out") +
               Text(x + 20, bottom - h - 2, "count", Num(d.unanswered)) + Text(x + 20, bottom + 15, "tick", "none");
    }
    int row = 0;
    for (const auto &t : d.timeouts) {
        const double x = left + t.first * sx;
        svg += Line(x, top - 6, x, bottom, "limit") +
               Text(x - 3, 26 + 10 * (row++ % 2), "limit", "time-out " + Num(t.first) + " ms (" + Num(t.second) + ")",
                    "end");
    }
    if (d.n > 0) {
        // dashed lines, named in a legend under the axis
        std::string legend;
        for (const auto &m : {std::make_pair("p50", 0.5), std::make_pair("p95", 0.95)}) {
            const double v = d.PercentileMs(m.second), x = left + v * sx;
            svg += Line(x, top, x, bottom, "pct");
            legend += std::string(m.first) + " " + Fixed(v, 1) + " ms · ";
        }
        svg += Text(left, bottom + 28, "pctl", legend + "max " + Fixed(d.maxUs / 1000.0, 1) + " ms · n " + Num(d.n) +
                                                   " (dashed: p50, p95)", "start");
    }
    return svg + "</svg>";
}

std::string OverTime(const std::string &title, const std::vector<Bucket> &buckets, const std::vector<std::string> &labels)
{
    const double W = 760, H = 220, left = 48, right = W - 56, top = 30, bottom = H - 40;
    int64_t most = 0, slowest = 0;
    for (const Bucket &b : buckets) {
        most = std::max(most, b.n);
        slowest = std::max(slowest, b.replyMaxUs);
    }
    std::string svg = "<svg class=\"over\" viewBox=\"0 0 " + Fixed(W, 0) + " " + Fixed(H, 0) + "\" width=\"" +
                      Fixed(W, 0) + "\" height=\"" + Fixed(H, 0) + "\" role=\"img\" aria-label=\"" + Html(title) + "\">";
    svg += Text(left, 14, "t", title, "start");
    const int64_t ymax = CountAxis(svg, most, left, top, bottom, right);
    const double bw = (right - left) / std::max<size_t>(1, buckets.size());
    const double msTop = NiceStep(std::max<int64_t>(1, slowest) / 1000.0 / 4) * 4;
    std::string mean, max;
    for (size_t i = 0; i < buckets.size(); ++i) {
        const Bucket &b = buckets[i];
        const double x = left + i * bw;
        const double h = (bottom - top) * (double)b.n / (double)ymax, hf = (bottom - top) * (double)b.failed / (double)ymax;
        const std::string tip = labels[i] + ": " + Num(b.n) + " exchanges, " + Num(b.failed) + " failed" +
                                (b.replied ? ", reply " + Fixed(b.replySumUs / 1000.0 / b.replied, 1) + " ms on average, " +
                                                 Fixed(b.replyMaxUs / 1000.0, 1) + " at most" : "");
        if (b.n > 0)
            svg += Rect(x + 0.5, bottom - h, bw - 1, h - hf, "bar", tip);
        if (b.failed > 0)
            svg += Rect(x + 0.5, bottom - hf, bw - 1, hf, "bar fail", tip);
        if (b.replied) {
            const double cx = x + bw / 2;
            const double ym = bottom - (bottom - top) * (b.replySumUs / 1000.0 / b.replied) / msTop;
            const double yx = bottom - (bottom - top) * (b.replyMaxUs / 1000.0) / msTop;
            mean += (mean.empty() ? "M" : "L") + Fixed(cx, 1) + " " + Fixed(ym, 1);
            max += (max.empty() ? "M" : "L") + Fixed(cx, 1) + " " + Fixed(yx, 1);
        }
        const size_t every = std::max<size_t>(1, buckets.size() / 8);
        if (i % every == 0)
            svg += Line(x, bottom, x, bottom + 4, "axis") + Text(x, bottom + 15, "tick", labels[i], "start");
    }
    if (!mean.empty())
        svg += "<path class=\"mean\" d=\"" + mean + "\"/><path class=\"max\" d=\"" + max + "\"/>";
    for (int k = 0; k <= 4; ++k) {
        const double y = bottom - (bottom - top) * k / 4.0;
        svg += Text(right + 4, y + 3, "tick ms", Fixed(msTop * k / 4, msTop < 4 ? 1 : 0) + (k == 4 ? " ms" : ""), "start");
    }
    svg += Text(left, bottom + 32, "tick", "bars: exchanges (red: failed), left axis; lines: reply delay, mean "
                                           "(solid) and largest (dashed), right axis", "start");
    return svg + "</svg>";
}
