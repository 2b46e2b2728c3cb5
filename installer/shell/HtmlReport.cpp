// The HTML page of the run report. Numbers are formatted from integers (as
// in the other report files), so a locale set by the text UI never puts a
// comma into a coordinate or a share.
#include "shell/HtmlReport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "install/InstallJob.h"
#include "units/DisplayOrder.h"

namespace {

// How an outcome is coloured: by the state the unit ended in, with the units
// a cancel or a limit took out of the run apart from those that failed.
enum class Shade { Finished, Failed, Cancelled, NotInRun };

const char* ShadeClass(Shade shade) {
  switch (shade) {
    case Shade::Finished: return "finished";
    case Shade::Failed: return "failed";
    case Shade::Cancelled: return "cancelled";
    case Shade::NotInRun: return "idle";
  }
  return "idle";
}

Shade ShadeOf(const UnitReportRow& row) {
  switch (row.failure()) {
    case FailureClass::Cancelled:
    case FailureClass::Timeout:
    case FailureClass::Stopped: return Shade::Cancelled;
    default: break;
  }
  switch (row.state) {
    case InstallState::Finished: return Shade::Finished;
    case InstallState::Failed: return Shade::Failed;
    case InstallState::Idle: return Shade::NotInRun;
    default: return Shade::Cancelled;  // still under way when the run ended
  }
}

// The units of one outcome: one status text in one shade.
struct OutcomeGroup {
  std::string label;
  Shade shade;
  std::vector<const UnitReportRow*> units;
};

std::string OutcomeLabel(const UnitReportRow& row) {
  if (ShadeOf(row) == Shade::NotInRun) return "Not in the run";
  return row.status.empty() ? "(no status)" : row.status;
}

// In shade order, each shade's outcomes in the order the table meets them.
std::vector<OutcomeGroup> GroupByOutcome(const std::vector<UnitReportRow>& units) {
  std::vector<OutcomeGroup> groups;
  for (const UnitReportRow& row : units) {
    const Shade shade = ShadeOf(row);
    const std::string label = OutcomeLabel(row);
    auto group = std::find_if(groups.begin(), groups.end(), [&](const OutcomeGroup& g) {
      return g.shade == shade && g.label == label;
    });
    if (group == groups.end()) group = groups.insert(groups.end(), OutcomeGroup{label, shade, {}});
    group->units.push_back(&row);
  }
  std::stable_sort(groups.begin(), groups.end(),
                   [](const OutcomeGroup& a, const OutcomeGroup& b) { return a.shade < b.shade; });
  return groups;
}

// A unit's text as the page shows it: cut (never inside a UTF-8 sequence)
// and escaped.
std::string Shown(const std::string& bytes) {
  if (bytes.size() <= kHtmlTextLimit) return HtmlText(bytes);
  std::size_t cut = kHtmlTextLimit;
  for (int back = 0; back < 3 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80; ++back)
    --cut;
  return HtmlText(bytes.substr(0, cut)) + "&hellip;";
}

std::string Shown(const NullableText& text) { return text ? Shown(*text) : std::string(); }

std::string Decimal(double value) {
  const long long tenths = std::llround(value * 10);
  const long long magnitude = tenths < 0 ? -tenths : tenths;
  return (tenths < 0 ? "-" : "") + std::to_string(magnitude / 10) + "." +
         std::to_string(magnitude % 10);
}

std::string Share(std::size_t count, std::size_t total) {
  return Decimal(100.0 * static_cast<double>(count) / static_cast<double>(total)) + "%";
}

// Bytes with a decimal unit: "812 B", "12.3 kB", "4.5 MB".
std::string BytesText(double bytes) {
  if (bytes < 1000) return std::to_string(std::llround(bytes)) + " B";
  if (bytes < 1e6) return Decimal(bytes / 1e3) + " kB";
  if (bytes < 1e9) return Decimal(bytes / 1e6) + " MB";
  return Decimal(bytes / 1e9) + " GB";
}

std::string TimeOfDay(std::time_t time) { return UtcTimeText(time).substr(11, 8); }

// When a job's first step started and its last step or file ended, in
// milliseconds since its start; {-1, -1} when nothing was timed.
struct Span {
  long long startMs = -1;
  long long endMs = -1;
  void Add(long long start, long long end) {
    if (start < 0 || end < 0) return;
    startMs = startMs < 0 ? start : std::min(startMs, start);
    endMs = std::max(endMs, end);
  }
};

Span JobSpan(const JobReport& job) {
  Span span;
  for (const StepTime& step : job.steps) span.Add(step.startMs, step.endMs);
  for (const FileTime& file : job.files) span.Add(file.startMs, file.endMs);
  return span;
}

// ---- Header and outcome bar

std::string Header(const RunReport& report) {
  return "<header><h1>fieldloader run report</h1><p class=\"meta\">fieldloader " +
         HtmlText(report.programVersion) + " &middot; written " + UtcTimeText(report.writtenAt) +
         " &middot; " + std::to_string(report.units.size()) +
         (report.units.size() == 1 ? " unit" : " units") + "</p></header>\n";
}

std::string OutcomeBar(const std::vector<OutcomeGroup>& groups, std::size_t total) {
  if (total == 0) return "<section><h2>Outcomes</h2><p>No units.</p></section>\n";
  std::string bar = "<div class=\"bar\">";
  std::string legend = "<ul class=\"legend\">";
  for (const OutcomeGroup& group : groups) {
    const std::string shade = ShadeClass(group.shade);
    const std::string count = std::to_string(group.units.size());
    const std::string share = Share(group.units.size(), total);
    bar += "<span class=\"s-" + shade + "\" style=\"width:" + share + "\" title=\"" +
           Shown(group.label) + ": " + count + "\"></span>";
    legend += "<li><i class=\"s-" + shade + "\"></i>" + Shown(group.label) + " <b>" + count +
              "</b> <small>" + share + "</small></li>";
  }
  return "<section><h2>Outcomes</h2>" + bar + "</div>" + legend + "</ul></section>\n";
}

// ---- The table of the units

std::string Cell(const std::string& html) { return "<td>" + html + "</td>"; }

// A cell that sorts by a number rather than by its text.
std::string Cell(const std::string& html, long long sortKey) {
  return "<td data-k=\"" + std::to_string(sortKey) + "\">" + html + "</td>";
}

// The columns only some runs fill: shown when a row of the report has them.
struct OptionalColumns {
  bool retried = false;   // --retry
  bool verified = false;  // --verify
};

OptionalColumns ColumnsOf(const RunReport& report) {
  OptionalColumns columns;
  for (const UnitReportRow& row : report.units) {
    columns.retried |= !row.retryOf.empty();
    columns.verified |= row.verified != Verification::NotAsked;
  }
  return columns;
}

std::string UnitRow(const UnitReportRow& row, std::size_t group, OptionalColumns columns) {
  const JobReport* job = row.job.get();
  const Span span = job ? JobSpan(*job) : Span();
  const long long duration = span.endMs < 0 ? -1 : span.endMs - span.startMs;
  std::string out = "<tr class=\"s-" + std::string(ShadeClass(ShadeOf(row))) + "\" data-o=\"" +
                    std::to_string(group) + "\">";
  out += Cell(DottedAddress(row.address), HostOrder(row.address));
  out += Cell(std::to_string(row.node), row.node);
  out += Cell(Shown(row.group));
  out += Cell(job ? Shown(job->versionBefore) : std::string());
  out += Cell(Shown(row.versionAfter));
  out += Cell("<i></i>" + Shown(row.status));
  out += Cell(FailureClassName(row.failure()));
  out += Cell(job ? std::to_string(job->bytesSent) : std::string(),
              job ? static_cast<long long>(job->bytesSent) : -1);
  out += Cell(job ? TimeOfDay(job->startedAt) : std::string(), job ? job->startedAtMs : -1);
  out += Cell(duration < 0 ? std::string() : SecondsText(duration) + " s", duration);
  out += Cell(row.wave ? std::to_string(row.wave) : std::string(), row.wave);
  if (columns.retried) out += Cell(HtmlText(row.retryOf));
  if (columns.verified) {
    out += Cell(std::string(VerificationName(row.verified)) +
                (row.verifiedAt ? " " + TimeOfDay(row.verifiedAt) : std::string()));
  }
  const std::string transcript = HtmlText(TranscriptName(row.address));
  out += Cell(job ? "<a href=\"" + transcript + "\">transcript</a>" : std::string());
  return out + "</tr>\n";
}

std::string OutcomeFilter(const std::vector<OutcomeGroup>& groups) {
  std::string out =
      "<label id=\"filter-box\" hidden>Outcome <select id=\"filter\"><option "
      "value=\"\">all</option>";
  for (std::size_t i = 0; i < groups.size(); ++i) {
    out += "<option value=\"" + std::to_string(i) + "\">" + Shown(groups[i].label) + " (" +
           std::to_string(groups[i].units.size()) + ")</option>";
  }
  return out + "</select></label>";
}

std::string UnitTable(const RunReport& report, const std::vector<OutcomeGroup>& groups) {
  std::vector<std::size_t> groupOf(report.units.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (const UnitReportRow* row : groups[g].units)
      groupOf[static_cast<std::size_t>(row - report.units.data())] = g;
  }
  std::string out = "<section><h2>Units</h2>" + OutcomeFilter(groups) +
                    "<div class=\"scroll\"><table id=\"units\"><thead><tr>";
  const OptionalColumns columns = ColumnsOf(report);
  for (const char* column : {"Address", "Node", "Group", "Version before", "Version after",
                             "Status", "Failure", "Bytes", "Start (UTC)", "Duration", "Wave"}) {
    out += std::string("<th>") + column + "</th>";
  }
  if (columns.retried) out += "<th>Retry of</th>";
  if (columns.verified) out += "<th>Verified (UTC)</th>";
  out += "<th>Transcript</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < report.units.size(); ++i) {
    out += UnitRow(report.units[i], groupOf[i], columns);
  }
  return out + "</tbody></table></div></section>\n";
}

// ---- The time axis the timeline and the throughput share

constexpr double kChartWidth = 1200;
constexpr double kPlotLeft = 150;
constexpr double kPlotRight = kChartWidth - 16;
constexpr int kBins = 240;

// The jobs with a wall-clock start, and the run's span in wall-clock
// milliseconds.
struct Axis {
  long long startMs = 0;
  long long endMs = 0;
  double SpanMs() const { return static_cast<double>(std::max(1LL, endMs - startMs)); }
  double X(double atMs) const {
    return kPlotLeft + (atMs - static_cast<double>(startMs)) * (kPlotRight - kPlotLeft) / SpanMs();
  }
  // Where a bin of the charts starts, in wall-clock milliseconds.
  double BinEdge(int bin) const { return static_cast<double>(startMs) + SpanMs() * bin / kBins; }
  int BinOf(double atMs) const {
    const double bin = std::floor((atMs - static_cast<double>(startMs)) * kBins / SpanMs());
    return static_cast<int>(std::clamp(bin, 0.0, kBins - 1.0));
  }
};

bool OnAxis(const UnitReportRow& row) {
  return row.job && row.job->startedAtMs > 0 && JobSpan(*row.job).endMs >= 0;
}

Axis RunAxis(const std::vector<UnitReportRow>& units) {
  Axis axis{-1, -1};
  for (const UnitReportRow& row : units) {
    if (!OnAxis(row)) continue;
    const Span span = JobSpan(*row.job);
    const long long start = row.job->startedAtMs + span.startMs;
    const long long end = row.job->startedAtMs + span.endMs;
    axis.startMs = axis.startMs < 0 ? start : std::min(axis.startMs, start);
    axis.endMs = std::max(axis.endMs, end);
  }
  return axis;
}

long long TickStep(long long spanMs) {
  static constexpr long long kSteps[] = {1,     2,     5,      10,     20,     50,     100,
                                         200,   500,   1000,   2000,   5000,   10000,  15000,
                                         30000, 60000, 120000, 300000, 600000, 900000, 1800000};
  for (const long long step : kSteps) {
    if (spanMs / step <= 8) return step;
  }
  constexpr long long kHour = 3600000;
  return kHour * (spanMs / kHour / 8 + 1);
}

std::string TickLabel(long long ms, long long step) {
  if (step < 1000) return SecondsText(ms) + " s";
  const long long seconds = ms / 1000;
  if (step < 60000 && seconds < 60) return std::to_string(seconds) + " s";
  const std::string second = std::to_string(seconds % 60);
  return std::to_string(seconds / 60) + ":" + (second.size() < 2 ? "0" : "") + second;
}

// Vertical grid lines with their times above them, from top to bottom.
std::string Grid(const Axis& axis, double top, double bottom) {
  const long long step = TickStep(axis.endMs - axis.startMs);
  std::string out;
  for (long long at = 0; axis.startMs + at <= axis.endMs; at += step) {
    const std::string x = Decimal(axis.X(axis.startMs + at));
    out += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + Decimal(top) +
           "\" y2=\"" + Decimal(bottom) + "\"/><text class=\"tick\" x=\"" + x + "\" y=\"" +
           Decimal(top - 5) + "\">" + TickLabel(at, step) + "</text>";
  }
  return out;
}

std::string Svg(double height, const std::string& body, const char* label) {
  return "<div class=\"scroll\"><svg viewBox=\"0 0 " + Decimal(kChartWidth) + " " +
         Decimal(height) + "\" role=\"img\" aria-label=\"" + label + "\">" + body + "</svg></div>";
}

std::string Rect(const char* cssClass, double x1, double x2, double y, double height,
                 const std::string& title) {
  return std::string("<rect class=\"") + cssClass + "\" x=\"" + Decimal(x1) + "\" y=\"" +
         Decimal(y) + "\" width=\"" + Decimal(std::max(0.6, x2 - x1)) + "\" height=\"" +
         Decimal(height) + "\"><title>" + title + "</title></rect>";
}

// An area under values per bin, scaled so that peak reaches the top.
std::string AreaPath(const char* cssClass, const Axis& axis, const std::vector<double>& values,
                     double peak, double top, double bottom) {
  std::string path = "M" + Decimal(kPlotLeft) + " " + Decimal(bottom);
  for (int bin = 0; bin < kBins; ++bin) {
    const double y = bottom - (bottom - top) * (peak > 0 ? values[bin] / peak : 0);
    path += "L" + Decimal(axis.X(axis.BinEdge(bin))) + " " + Decimal(y) + "L" +
            Decimal(axis.X(axis.BinEdge(bin + 1))) + " " + Decimal(y);
  }
  path += "L" + Decimal(kPlotRight) + " " + Decimal(bottom) + "Z";
  return std::string("<path class=\"") + cssClass + "\" d=\"" + path + "\"/>";
}

// The share of [startMs, endMs) that falls into each bin, times amount; an
// instant puts all of it into its bin.
void Spread(const Axis& axis, double startMs, double endMs, double amount,
            std::vector<double>& bins) {
  if (endMs <= startMs) {
    bins[axis.BinOf(startMs)] += amount;
    return;
  }
  for (int bin = axis.BinOf(startMs); bin <= axis.BinOf(endMs); ++bin) {
    const double from = std::max(startMs, axis.BinEdge(bin));
    const double to = std::min(endMs, axis.BinEdge(bin + 1));
    if (to > from) bins[bin] += amount * (to - from) / (endMs - startMs);
  }
}

// ---- The timeline

// The colour class of a step of the job's step table.
const char* PhaseOf(std::string_view step) {
  struct Phase {
    std::string_view step;
    const char* phase;
  };
  static constexpr Phase kPhases[] = {
      {"ping", "ping"},         {"gateway", "route"},    {"route", "route"},
      {"login", "login"},       {"channel", "channel"},  {"copy", "f0"},
      {"outcome", "script"},    {"cancel_check", "end"}, {"clean_up", "end"},
      {"route_removal", "end"}, {"end", "end"}};
  for (const Phase& phase : kPhases) {
    if (phase.step == step) return phase.phase;
  }
  return "start";
}

constexpr double kLaneHeight = 12;
constexpr double kLaneStep = 17;
constexpr double kActivityHeight = 22;

std::string JobLane(const UnitReportRow& row, const Axis& axis, double y) {
  const JobReport& job = *row.job;
  const auto x = [&](long long ms) { return axis.X(job.startedAtMs + ms); };
  std::string out = "<text class=\"lane\" x=\"" + Decimal(kPlotLeft - 8) + "\" y=\"" +
                    Decimal(y + kLaneHeight - 2) + "\">" + DottedAddress(row.address) + "</text>";
  const std::span<const char* const> names = InstallJobStepNames();
  for (std::size_t i = 0; i < job.steps.size() && i < names.size(); ++i) {
    const StepTime& step = job.steps[i];
    const bool filesDrawn = !job.files.empty() && std::string_view(names[i]) == "copy";
    if (step.startMs < 0 || step.endMs < 0 || filesDrawn) continue;
    out += Rect(PhaseOf(names[i]), x(step.startMs), x(step.endMs), y, kLaneHeight,
                std::string(names[i]) + " " + SecondsText(step.endMs - step.startMs) + " s");
  }
  for (std::size_t i = 0; i < job.files.size(); ++i) {
    const FileTime& file = job.files[i];
    if (file.startMs < 0 || file.endMs < 0) continue;
    out += Rect(i % 2 ? "f1" : "f0", x(file.startMs), x(file.endMs), y, kLaneHeight,
                Shown(file.remoteName) + " " + std::to_string(file.bytes) + " B " +
                    SecondsText(file.endMs - file.startMs) + " s");
  }
  return out;
}

// How many of the group's jobs ran at each moment, as an area.
std::string ActivityLane(const std::vector<const UnitReportRow*>& jobs, Shade shade,
                         const Axis& axis, double y) {
  std::vector<double> running(kBins);
  for (const UnitReportRow* row : jobs) {
    const Span span = JobSpan(*row->job);
    const int last = axis.BinOf(static_cast<double>(row->job->startedAtMs + span.endMs));
    for (int bin = axis.BinOf(static_cast<double>(row->job->startedAtMs + span.startMs));
         bin <= last; ++bin) {
      running[bin] += 1;
    }
  }
  const double peak = *std::max_element(running.begin(), running.end());
  return "<text class=\"lane\" x=\"" + Decimal(kPlotLeft - 8) + "\" y=\"" +
         Decimal(y + kActivityHeight - 6) + "\">running (peak " +
         std::to_string(std::llround(peak)) + ")</text>" +
         AreaPath((std::string("a-") + ShadeClass(shade)).c_str(), axis, running, peak, y + 2,
                  y + kActivityHeight);
}

std::string Timeline(const std::vector<OutcomeGroup>& groups, const Axis& axis) {
  std::string body;
  double y = 30;
  for (const OutcomeGroup& group : groups) {
    std::vector<const UnitReportRow*> jobs;
    for (const UnitReportRow* row : group.units) {
      if (OnAxis(*row)) jobs.push_back(row);
    }
    if (jobs.empty()) continue;
    std::stable_sort(jobs.begin(), jobs.end(), [](const UnitReportRow* a, const UnitReportRow* b) {
      return a->job->startedAtMs < b->job->startedAtMs;
    });
    body += "<text class=\"group\" x=\"4\" y=\"" + Decimal(y + 14) + "\">" + Shown(group.label) +
            " &middot; " + std::to_string(jobs.size()) + (jobs.size() == 1 ? " job" : " jobs") +
            "</text>";
    y += 20;
    body += ActivityLane(jobs, group.shade, axis, y);
    y += kActivityHeight + 6;
    const std::size_t drawn = std::min(jobs.size(), kTimelineLanesPerGroup);
    for (std::size_t i = 0; i < drawn; ++i, y += kLaneStep) body += JobLane(*jobs[i], axis, y);
    if (jobs.size() > drawn) {
      body += "<text class=\"more\" x=\"" + Decimal(kPlotLeft) + "\" y=\"" + Decimal(y + 10) +
              "\">and " + std::to_string(jobs.size() - drawn) +
              " more jobs of this outcome (the table lists every unit)</text>";
      y += kLaneStep;
    }
    y += 10;
  }
  return Svg(y, Grid(axis, 24, y) + body, "timeline of the jobs");
}

const char* const kPhaseLegend[][2] = {
    {"start", "start, log"}, {"ping", "ping"}, {"route", "route"},   {"login", "login"},
    {"channel", "channel"},  {"f0", "files"},  {"script", "script"}, {"end", "end"}};

std::string TimelineSection(const std::vector<OutcomeGroup>& groups, const Axis& axis) {
  std::string legend = "<ul class=\"legend\">";
  for (const auto& entry : kPhaseLegend) {
    legend += std::string("<li><i class=\"p ") + entry[0] + "\"></i>" + entry[1] + "</li>";
  }
  return "<section><h2>Timeline</h2><p class=\"meta\">Time since " +
         UtcTimeText(static_cast<std::time_t>(axis.startMs / 1000)) +
         "; each outcome shows how many of its jobs ran, then its first " +
         std::to_string(kTimelineLanesPerGroup) + " jobs step by step.</p>" + legend + "</ul>" +
         Timeline(groups, axis) + "</section>\n";
}

// ---- Throughput

std::string ThroughputSection(const std::vector<UnitReportRow>& units, const Axis& axis) {
  std::vector<double> bytes(kBins);
  double total = 0;
  for (const UnitReportRow& row : units) {
    if (!OnAxis(row)) continue;
    for (const FileTime& file : row.job->files) {
      if (file.startMs < 0 || file.endMs < 0) continue;
      Spread(axis, row.job->startedAtMs + file.startMs, row.job->startedAtMs + file.endMs,
             file.bytes, bytes);
      total += file.bytes;
    }
  }
  const double binSeconds =
      static_cast<double>(std::max(1LL, axis.endMs - axis.startMs)) / kBins / 1000.0;
  std::vector<double> rate(kBins);
  std::transform(bytes.begin(), bytes.end(), rate.begin(),
                 [&](double b) { return b / binSeconds; });
  const double peak = *std::max_element(rate.begin(), rate.end());
  constexpr double kTop = 28;
  constexpr double kBottom = 170;
  std::string body = Grid(axis, kTop - 4, kBottom);
  for (const double level : {0.0, 0.5, 1.0}) {
    const double y = kBottom - (kBottom - kTop) * level;
    body += "<line class=\"grid\" x1=\"" + Decimal(kPlotLeft) + "\" x2=\"" + Decimal(kPlotRight) +
            "\" y1=\"" + Decimal(y) + "\" y2=\"" + Decimal(y) + "\"/><text class=\"lane\" x=\"" +
            Decimal(kPlotLeft - 8) + "\" y=\"" + Decimal(y + 4) + "\">" + BytesText(peak * level) +
            "/s</text>";
  }
  body += AreaPath("tp", axis, rate, peak, kTop, kBottom);
  return "<section><h2>Throughput</h2><p class=\"meta\">Bytes per second to all units together: " +
         BytesText(total) + " in files, peak " + BytesText(peak) + "/s.</p>" +
         Svg(kBottom + 10, body, "bytes per second over time") + "</section>\n";
}

constexpr const char* kStyle = R"(<style>
:root{--finished:#2f9e5b;--failed:#d64545;--cancelled:#e39b2d;--idle:#9aa3ad}
*{box-sizing:border-box}
body{margin:0;padding:16px;font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1f2933;background:#f5f7fa}
main{max-width:1240px;margin:0 auto}
header,section{background:#fff;border:1px solid #dde3ea;border-radius:8px;padding:12px 16px;margin-bottom:14px}
h1{font-size:20px;margin:0}h2{font-size:16px;margin:0 0 8px}
.meta{color:#52606d;margin:4px 0 8px}
.bar{display:flex;height:22px;border-radius:4px;overflow:hidden;background:#e4e7eb}
.bar span{display:block;min-width:2px}
.legend{list-style:none;padding:0;margin:8px 0 0;display:flex;flex-wrap:wrap;gap:6px 18px}
.legend i{display:inline-block;width:12px;height:12px;border-radius:2px;margin-right:5px;vertical-align:-1px}
.s-finished i,i.s-finished,.bar .s-finished{background:var(--finished)}
.s-failed i,i.s-failed,.bar .s-failed{background:var(--failed)}
.s-cancelled i,i.s-cancelled,.bar .s-cancelled{background:var(--cancelled)}
.s-idle i,i.s-idle,.bar .s-idle{background:var(--idle)}
.scroll{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:13px;white-space:nowrap}
th,td{padding:4px 8px;text-align:left;border-bottom:1px solid #eef1f4}
th{background:#f0f3f7;position:sticky;top:0;user-select:none}
.js th{cursor:pointer}.js th:hover{background:#e1e7ef}
th[aria-sort=ascending]::after{content:" \25B2"}th[aria-sort=descending]::after{content:" \25BC"}
td[data-k]{text-align:right;font-variant-numeric:tabular-nums}td:first-child{text-align:left}
td i{display:inline-block;width:9px;height:9px;border-radius:50%;margin-right:6px}
tr.s-failed td{background:#fdf2f2}
#filter-box{display:inline-block;margin-bottom:8px}
svg{display:block;width:100%;min-width:760px;height:auto;font-size:11px}
.grid{stroke:#e4e7eb}.tick{fill:#7b8794;text-anchor:middle}
.lane{fill:#52606d;text-anchor:end}.group{font-weight:600;fill:#1f2933}.more{fill:#7b8794;font-style:italic}
.a-finished{fill:var(--finished)}.a-failed{fill:var(--failed)}.a-cancelled{fill:var(--cancelled)}.a-idle{fill:var(--idle)}
.start{fill:#9aa5b1;background:#9aa5b1}.ping{fill:#8e7cc3;background:#8e7cc3}.route{fill:#c27ba0;background:#c27ba0}
.login{fill:#3d85c6;background:#3d85c6}.channel{fill:#45a0a8;background:#45a0a8}
.f0{fill:#2f9e5b;background:#2f9e5b}.f1{fill:#6cc08b}.script{fill:#e39b2d;background:#e39b2d}.end{fill:#616e7c;background:#616e7c}
.tp{fill:#3d85c6;fill-opacity:.35;stroke:#3d85c6;stroke-width:1.5}
</style>
)";

// Sorts the table by a column header (a second click reverses it; "#sort=N"
// in the address sorts by the Nth column on opening), shows the outcome
// filter, and marks the page as scripted.
constexpr const char* kScript = R"(<script>
(function(){var t=document.getElementById("units"),b=t.tBodies[0],h=t.tHead.rows[0].cells;
Array.prototype.forEach.call(h,function(c,i){c.onclick=function(){
var d=c.getAttribute("aria-sort")==="ascending"?-1:1,r=Array.prototype.slice.call(b.rows);
Array.prototype.forEach.call(h,function(o){o.removeAttribute("aria-sort")});
c.setAttribute("aria-sort",d>0?"ascending":"descending");
r.sort(function(x,y){var p=x.cells[i],q=y.cells[i];return d*(p.dataset.k!==undefined?
p.dataset.k-q.dataset.k:p.textContent.localeCompare(q.textContent))});
r.forEach(function(x){b.appendChild(x)})}});
var f=document.getElementById("filter");document.getElementById("filter-box").hidden=false;
f.onchange=function(){Array.prototype.forEach.call(b.rows,function(x){
x.hidden=f.value!==""&&x.dataset.o!==f.value})};
var m=/#sort=(\d+)/.exec(location.hash);if(m&&h[m[1]])h[m[1]].click();
document.body.className="js"})();
</script>
)";

}  // namespace

std::string HtmlText(const std::string& bytes) {
  const std::string printable = PrintableText(bytes);
  std::string out;
  out.reserve(printable.size() + 16);
  for (const char c : printable) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string ReportHtml(const RunReport& report) {
  const std::vector<OutcomeGroup> groups = GroupByOutcome(report.units);
  const Axis axis = RunAxis(report.units);
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>fieldloader run report</title>\n";
  out += kStyle;
  out += "</head><body><main>\n" + Header(report) + OutcomeBar(groups, report.units.size());
  if (axis.startMs < 0) {
    out += "<section><h2>Timeline</h2><p>No job ran.</p></section>\n";
  } else {
    out += TimelineSection(groups, axis) + ThroughputSection(report.units, axis);
  }
  out += UnitTable(report, groups);
  return out + "</main>\n" + kScript + "</body></html>\n";
}
