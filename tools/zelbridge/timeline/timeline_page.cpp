// The timeline as one HTML page with an SVG drawing: a row per thread, a bar
// per call (red when it failed), a thin bar above for each wait for an
// answer, and the call's details in its tooltip. No script, nothing fetched.
#include "timeline/trace_events.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace zelbridge::tool {
namespace {

using json = nlohmann::json;

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML text.
            out += static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' ? ' ' : c;
        }
    }
    return out;
}

std::string Ms(double us)
{
    std::ostringstream text;
    text.precision(us >= 1e6 ? 6 : 3);
    text << std::fixed << us / 1000.0;
    std::string value = text.str();
    while (value.find('.') != std::string::npos && (value.back() == '0' || value.back() == '.'))
        value.pop_back();
    return value + " ms";
}

constexpr int kLabelWidth = 170;
constexpr int kRowHeight = 34;
constexpr int kTop = 30;

} // namespace

std::string TimelinePage(const json& events, const std::string& title)
{
    // Rows in the order of the events, which are sorted by track.
    std::map<std::pair<std::int64_t, std::int64_t>, std::size_t> rows;
    std::map<std::pair<std::int64_t, std::int64_t>, std::string> names;
    std::map<std::int64_t, std::string> processNames;
    double first = 0, last = 0;
    bool any = false;
    std::size_t calls = 0;
    for (const json& e : events["traceEvents"]) {
        const auto track = std::make_pair(e["pid"].get<std::int64_t>(), e["tid"].get<std::int64_t>());
        if (e["ph"] == "M") {
            if (e["name"] == "process_name")
                processNames[track.first] = e["args"]["name"];
            else
                names[track] = e["args"]["name"];
            continue;
        }
        rows.emplace(track, rows.size());
        const double ts = e["ts"].get<double>();
        const double end = ts + e.value("dur", 0.0);
        first = any ? std::min(first, ts) : ts;
        last = any ? std::max(last, end) : end;
        any = true;
        calls += e["ph"] == "X" ? 1 : 0;
    }
    const double span = std::max(last - first, 1.0);
    // Wide enough that calls close together stay apart; the page scrolls.
    const double plot = std::clamp(static_cast<double>(calls) * 8.0, 1200.0, 60000.0);
    const auto x = [&](double ts) { return kLabelWidth + (ts - first) / span * plot; };
    const int width = kLabelWidth + static_cast<int>(plot) + 40;
    const int height = kTop + static_cast<int>(rows.size()) * kRowHeight + 20;

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    // The time axis: a tick every 1, 2 or 5 times a power of ten, about ten in all.
    const double rough = span / 10.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = rough / power < 2 ? 2 * power : rough / power < 5 ? 5 * power : 10 * power;
    for (double offset = 0; offset <= span; offset += step) {
        const double ts = first + offset;
        svg << "<line class=\"tick\" x1=\"" << x(ts) << "\" y1=\"" << kTop - 8 << "\" x2=\"" << x(ts) << "\" y2=\""
            << height - 20 << "\" stroke=\"#ddd\"/><text x=\"" << x(ts) + 2 << "\" y=\"" << kTop - 12 << "\">"
            << Ms(ts - first) << "</text>\n";
    }
    for (const auto& [track, row] : rows) {
        const int y = kTop + static_cast<int>(row) * kRowHeight;
        const auto name = names.find(track);
        const auto process = processNames.find(track.first);
        svg << "<text class=\"track\" x=\"4\" y=\"" << y + 20 << "\">"
            << Escaped((process != processNames.end() ? process->second : "process " + std::to_string(track.first)) +
                       ", " + (name != names.end() ? name->second : "thread " + std::to_string(track.second)))
            << "</text><line x1=\"" << kLabelWidth << "\" y1=\"" << y + kRowHeight - 2 << "\" x2=\"" << width
            << "\" y2=\"" << y + kRowHeight - 2 << "\" stroke=\"#eee\"/>\n";
    }
    std::map<std::string, double> waitBegins;
    std::ostringstream failures;
    for (const json& e : events["traceEvents"]) {
        if (e["ph"] == "M")
            continue;
        const auto track = std::make_pair(e["pid"].get<std::int64_t>(), e["tid"].get<std::int64_t>());
        const int y = kTop + static_cast<int>(rows.at(track)) * kRowHeight;
        const double ts = e["ts"].get<double>();
        const std::string name = e.value("name", "");
        const bool failed = e.value("cat", "").find("error") != std::string::npos;
        if (e["ph"] == "b") {
            waitBegins[e["id"].dump() + "/" + std::to_string(track.first)] = ts;
        } else if (e["ph"] == "e") {
            const auto begin = waitBegins.find(e["id"].dump() + "/" + std::to_string(track.first));
            if (begin == waitBegins.end())
                continue;
            const double w = std::max(x(ts) - x(begin->second), 2.0);
            svg << "<rect class=\"wait\" x=\"" << x(begin->second) << "\" y=\"" << y + 4 << "\" width=\"" << w
                << "\" height=\"14\" fill=\"#f0a030\"><title>" << Escaped(name) << ": waited " << Ms(ts - begin->second)
                << "</title></rect>\n";
            if (w > 60)
                svg << "<text x=\"" << x(begin->second) + 3 << "\" y=\"" << y + 15 << "\">"
                    << Escaped(name.substr(0, static_cast<std::size_t>(w / 6.5))) << "</text>\n";
        } else if (e["ph"] == "X") {
            const double w = std::max(x(ts + e["dur"].get<double>()) - x(ts), failed ? 3.0 : 2.0);
            // Failures are drawn last, over the calls close to them.
            std::ostringstream& bar = failed ? failures : svg;
            bar << "<rect class=\"call" << (failed ? " error" : "") << "\" data-record=\""
                << Escaped(EventText(e["args"].value("record", json()))) << "\" x=\"" << x(ts) << "\" y=\"" << y + 20
                << "\" width=\"" << w << "\" height=\"10\" fill=\"" << (failed ? "#d62728" : "#4878b0")
                << "\" stroke=\"#fff\" stroke-width=\"0.5\"><title>" << Escaped(name) << " at " << Ms(ts - first)
                << "\n" << Escaped(EventText(e["args"])) << "</title></rect>\n";
            // The name inside a bar wide enough to hold some of it.
            if (w > 40)
                bar << "<text x=\"" << x(ts) + 3 << "\" y=\"" << y + 29 << "\" fill=\"#fff\">"
                    << Escaped(name.substr(0, static_cast<std::size_t>(w / 6.5))) << "</text>\n";
        } else {
            svg << "<rect class=\"mark" << (failed ? " error" : "") << "\" x=\"" << x(ts) - 1 << "\" y=\"" << y + 8
                << "\" width=\"2\" height=\"22\" fill=\"" << (failed ? "#d62728" : "#777") << "\"><title>"
                << Escaped(e["args"].value("text", name)) << "</title></rect>\n";
        }
    }
    svg << failures.str() << "</svg>\n";

    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << Escaped(title)
         << "</title>\n<style>body{font-family:sans-serif;margin:12px}.legend span{display:inline-block;width:14px;"
            "height:10px;margin:0 4px 0 12px}svg rect.call:hover{opacity:.7}</style></head>\n<body>\n<h1 "
            "style=\"font-size:16px\">"
         << Escaped(title) << "</h1>\n<p class=\"legend\">" << calls << " calls over " << Ms(span)
         << ".<span style=\"background:#4878b0\"></span>call<span style=\"background:#d62728\"></span>failed call"
            "<span style=\"background:#f0a030\"></span>wait from a command to the read that got its answer. "
            "A recording says when each call began: the space between calls is the calls' and the application's "
            "time together. Point at a mark for the call's arguments and result.</p>\n"
            "<div style=\"overflow-x:auto\">\n"
         << svg.str() << "</div>\n</body></html>\n";
    return page.str();
}

} // namespace zelbridge::tool
