// The run report's page: the escaping of unit text (markup, quotes, broken
// UTF-8) byte for byte and in a whole page that units try to inject into;
// the page's parts (header, outcome bar with shares, one table row per unit
// with its transcript link, the outcome filter); nothing that reaches
// outside the page; the timeline's groups and the throughput's rates; and a
// thousand units with the worst texts staying readable and under 2 MB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LoopbackNet.h"
#include "SyntheticReport.h"
#include "TestSupport.h"
#include "install/InstallJob.h"
#include "shell/HtmlReport.h"
#include "shell/RunReport.h"

namespace {

using testsupport::AddressOfOctets;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Every tag the page opens or closes: its name ("/td" for a closing one)
// and the names of its attributes, read as a browser would (a quoted value
// runs to its closing quote). Hand-made rather than std::regex, whose
// recursion overflows the stack on a page's long attribute values.
struct Tag {
  std::string name;
  std::vector<std::string> attributes;
};

std::vector<Tag> Tags(const std::string& page) {
  const auto isName = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
  };
  std::vector<Tag> tags;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at)) {
    Tag tag;
    std::size_t end = at + 1;
    while (end < page.size() &&
           (isName(page[end]) || (end == at + 1 && (page[end] == '/' || page[end] == '!'))))
      ++end;
    tag.name = page.substr(at + 1, end - at - 1);
    while (end < page.size() && page[end] != '>') {
      if (isName(page[end])) {
        const std::size_t start = end;
        while (end < page.size() && isName(page[end])) ++end;
        tag.attributes.push_back(page.substr(start, end - start));
      } else if (page[end] == '"') {
        end = page.find('"', end + 1);
        if (end == std::string::npos) break;
        ++end;
      } else {
        ++end;
      }
    }
    if (!tag.name.empty() && tag.name != "!DOCTYPE") tags.push_back(std::move(tag));
    at = end;
  }
  return tags;
}

// The values of every attribute of that name, in the order of the page.
std::vector<std::string> Values(const std::string& page, const std::string& attribute) {
  std::vector<std::string> values;
  const std::string start = attribute + "=\"";
  for (std::size_t at = page.find(start); at != std::string::npos; at = page.find(start, at)) {
    at += start.size();
    values.push_back(page.substr(at, page.find('"', at) - at));
  }
  return values;
}

// The page's bytes outside ASCII form valid UTF-8 only: PrintableText
// keeps exactly those.
bool ValidUtf8(const std::string& page) {
  std::string beyondAscii;
  for (const char c : page) {
    if (static_cast<unsigned char>(c) >= 0x80) beyondAscii += c;
  }
  return PrintableText(beyondAscii) == beyondAscii;
}

std::shared_ptr<const JobReport> TimedJob(long long startedAtMs, std::vector<FileTime> files) {
  JobReport job;
  job.startedAtMs = startedAtMs;
  job.startedAt = static_cast<std::time_t>(startedAtMs / 1000);
  job.steps.resize(InstallJobStepNames().size());
  job.steps.front() = {0, 10};
  job.steps.back() = {1990, 2000};
  for (const FileTime& file : files) job.bytesSent += file.bytes;
  job.files = std::move(files);
  return std::make_shared<const JobReport>(std::move(job));
}

UnitReportRow Unit(int lastOctet, InstallState state, const std::string& status,
                   std::shared_ptr<const JobReport> job) {
  UnitReportRow row;
  row.address = AddressOfOctets(10, 0, 0, lastOctet);
  row.node = lastOctet;
  row.group = "North";
  row.state = state;
  row.status = status;
  row.job = std::move(job);
  row.wave = row.job ? 1 : 0;
  return row;
}

// Two units finished, one failed, one not in the run.
RunReport SmallReport() {
  RunReport report;
  report.programVersion = "1.4.0";
  report.writtenAt = 1796672857;
  const long long start = 1796672847000;
  report.units = {
      Unit(1, InstallState::Finished, "Success", TimedJob(start, {{"/a.bin", 1000000, 10, 2000}})),
      Unit(2, InstallState::Finished, "Success", TimedJob(start, {{"/a.bin", 1000000, 10, 2000}})),
      Unit(3, InstallState::Failed, "Failed Connection", TimedJob(start, {})),
      Unit(4, InstallState::Idle, "", nullptr)};
  return report;
}

std::string Between(const std::string& page, const std::string& from, const std::string& to) {
  const std::size_t start = page.find(from);
  if (start == std::string::npos) return std::string();
  return page.substr(start, page.find(to, start) - start);
}

TEST(HtmlReportTest, TextIsEscapedForContentAndAttributesByteForByte) {
  EXPECT_EQ(HtmlText("<script>alert(\"x\" + 'y') & z</script>"),
            "&lt;script&gt;alert(&quot;x&quot; + &#39;y&#39;) &amp; z&lt;/script&gt;");
  // Valid UTF-8 stays; stray and cut bytes, control bytes and the backslash
  // that would make a stray byte's text ambiguous are written \xNN.
  EXPECT_EQ(HtmlText("caf\xc3\xa9 \xff\xe2\x82 \x01\\"), "caf\xc3\xa9 \\xff\\xe2\\x82 \\x01\\x5c");
  EXPECT_EQ(HtmlText(""), "");
}

TEST(HtmlReportTest, UnitTextCannotInjectMarkupOrBreakTheEncoding) {
  RunReport report = SmallReport();
  UnitReportRow& unit = report.units[0];
  unit.group = "<script>alert(1)</script>";
  unit.status = "\"><img src=x onerror=alert(1)>";
  unit.versionAfter = "\xff\xfe<b>bold</b>\xc3";
  JobReport job = *unit.job;
  job.versionBefore = "' onmouseover='alert(1)";
  job.files[0].remoteName = "</title></rect><script>alert(2)</script>";
  unit.job = std::make_shared<const JobReport>(std::move(job));
  const std::string page = ReportHtml(report);

  const std::set<std::string> allowed = {
      "html",  "head",  "meta",    "title",  "style", "body",  "main",  "header", "h1",
      "h2",    "p",     "section", "div",    "span",  "ul",    "li",    "i",      "b",
      "small", "label", "select",  "option", "table", "thead", "tbody", "tr",     "th",
      "td",    "a",     "svg",     "line",   "text",  "rect",  "path",  "script"};
  std::multiset<std::string> opened;
  for (const Tag& tag : Tags(page)) {
    const std::string name = tag.name[0] == '/' ? tag.name.substr(1) : tag.name;
    EXPECT_TRUE(allowed.count(name)) << tag.name;
    if (tag.name[0] != '/') opened.insert(tag.name);
    // No tag carries an event handler or a source: the units' words stay
    // text and quoted values.
    for (const std::string& attribute : tag.attributes) {
      EXPECT_NE(attribute.rfind("on", 0), 0u) << tag.name << " " << attribute;
      EXPECT_NE(attribute, "src") << tag.name;
    }
  }
  EXPECT_EQ(opened.count("script"), 1u) << "only the page's own script";
  EXPECT_EQ(opened.count("b"), 4u) << "the outcome legend's counts only";
  EXPECT_NE(page.find("<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>\\xff\\xfe&lt;b&gt;bold&lt;/b&gt;\\xc3</td>"), std::string::npos);
  // The status lands in an attribute (the bar's title) and in text.
  EXPECT_NE(page.find("title=\"&quot;&gt;&lt;img src=x onerror=alert(1)&gt;: 1\""),
            std::string::npos);
  EXPECT_NE(page.find("<title>&lt;/title&gt;&lt;/rect&gt;&lt;script&gt;alert(2)&lt;/script&gt; "
                      "1000000 B 1.990 s</title>"),
            std::string::npos);
  EXPECT_TRUE(ValidUtf8(page));
}

TEST(HtmlReportTest, LongTextIsCutOutsideUtf8SequencesAndMarked) {
  RunReport report = SmallReport();
  // The limit falls on the second byte of the "é".
  report.units[0].group = std::string(kHtmlTextLimit - 1, 'g') + "\xc3\xa9" + "tail";
  const std::string page = ReportHtml(report);
  EXPECT_NE(page.find("<td>" + std::string(kHtmlTextLimit - 1, 'g') + "&hellip;</td>"),
            std::string::npos);
  EXPECT_EQ(page.find("tail"), std::string::npos);
  EXPECT_TRUE(ValidUtf8(page));
}

TEST(HtmlReportTest, PageHasHeaderOutcomesTableAndTranscriptLinks) {
  const std::string page = ReportHtml(SmallReport());
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(page.find("fieldloader 1.4.0 &middot; written 2026-12-07T19:47:37Z &middot; 4 units"),
            std::string::npos);

  // The bar: one segment per outcome in shade order, each with its share.
  const std::string bar = Between(page, "<div class=\"bar\">", "</div>");
  EXPECT_EQ(bar,
            "<div class=\"bar\"><span class=\"s-finished\" style=\"width:50.0%\" title=\"Success: "
            "2\"></span><span class=\"s-failed\" style=\"width:25.0%\" title=\"Failed Connection: "
            "1\"></span><span class=\"s-idle\" style=\"width:25.0%\" title=\"Not in the run: "
            "1\"></span>");
  EXPECT_NE(page.find("<li><i class=\"s-failed\"></i>Failed Connection <b>1</b> "
                      "<small>25.0%</small></li>"),
            std::string::npos);

  // The table: a plain one, a row per unit in the report's order, twelve
  // cells each; the filter appears only once the script shows it.
  const std::string body = Between(page, "<tbody>", "</tbody>");
  EXPECT_EQ(Count(body, "<tr "), 4u);
  EXPECT_EQ(Count(body, "<td"), 4u * 12u);
  EXPECT_LT(body.find(">10.0.0.1<"), body.find(">10.0.0.3<"));
  EXPECT_NE(body.find("<tr class=\"s-failed\" data-o=\"1\"><td data-k=\"167772163\">10.0.0.3</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<label id=\"filter-box\" hidden>"), std::string::npos);
  EXPECT_NE(page.find("<option value=\"1\">Failed Connection (1)</option>"), std::string::npos);
  EXPECT_NE(body.find("<td data-k=\"1000000\">1000000</td><td data-k=\"1796672847000\">19:47:27"
                      "</td><td data-k=\"2000\">2.000 s</td>"),
            std::string::npos);
  // A transcript for each unit whose job ran, relative to the page.
  EXPECT_EQ(Count(body, "<a href=\"transcripts/"), 3u);
  EXPECT_NE(body.find("<a href=\"transcripts/10.0.0.3.txt\">transcript</a>"), std::string::npos);
  EXPECT_EQ(body.find("transcripts/10.0.0.4.txt"), std::string::npos);
}

// A retried or verified run shows those columns before the transcript;
// other runs do not have them.
TEST(HtmlReportTest, RetryAndVerifyColumnsAppearOnlyForRunsThatHaveThem) {
  RunReport report = SmallReport();
  EXPECT_EQ(ReportHtml(report).find("<th>Retry of</th>"), std::string::npos);
  EXPECT_EQ(ReportHtml(report).find("<th>Verified (UTC)</th>"), std::string::npos);
  report.units[0].retryOf = "2026-12-06T08:00:00Z";
  report.units[0].verified = Verification::Yes;
  report.units[0].verifiedAt = 1796672861;
  report.units[1].verified = Verification::No;
  const std::string page = ReportHtml(report);
  EXPECT_NE(page.find("<th>Wave</th><th>Retry of</th><th>Verified (UTC)</th><th>Transcript</th>"),
            std::string::npos);
  const std::string body = Between(page, "<tbody>", "</tbody>");
  EXPECT_EQ(Count(body, "<td"), 4u * 14u);
  EXPECT_NE(body.find("<td>2026-12-06T08:00:00Z</td><td>yes 19:47:41</td><td><a href="),
            std::string::npos);
  EXPECT_NE(body.find("<td></td><td>no</td>"), std::string::npos);
  EXPECT_NE(body.find("<td></td><td>not asked</td>"), std::string::npos);
}

TEST(HtmlReportTest, PageRefersToNothingOutsideItself) {
  for (const RunReport& report : {SmallReport(), testsupport::SyntheticReport(48)}) {
    const std::string page = ReportHtml(report);
    EXPECT_EQ(page.find("http:"), std::string::npos);
    EXPECT_EQ(page.find("https:"), std::string::npos);
    EXPECT_EQ(page.find("//"), std::string::npos) << "no protocol-relative address either";
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_EQ(page.find("@import"), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);
    for (const std::string& link : Values(page, "href")) {
      EXPECT_EQ(link.rfind("transcripts/", 0), 0u) << link;
    }
  }
}

TEST(HtmlReportTest, ThroughputAddsTheFilesOfAllUnitsOverTime) {
  // Two units put 1 MB each over the same 1.99 s: 1 MB/s together at the
  // peak, 2 MB in all.
  const std::string page = ReportHtml(SmallReport());
  EXPECT_NE(page.find("2.0 MB in files, peak 1.0 MB/s."), std::string::npos);

  // One after the other, the peak halves.
  RunReport apart = SmallReport();
  apart.units[1].job = TimedJob(1796672849000, {{"/a.bin", 1000000, 10, 2000}});
  EXPECT_NE(ReportHtml(apart).find("2.0 MB in files, peak 502.5 kB/s."), std::string::npos);
}

TEST(HtmlReportTest, ReportWithoutJobsHasNoTimeline) {
  RunReport report;
  report.programVersion = "1.4.0";
  EXPECT_NE(ReportHtml(report).find("<p>No units.</p>"), std::string::npos);
  report.units = {Unit(4, InstallState::Idle, "", nullptr)};
  const std::string page = ReportHtml(report);
  EXPECT_NE(page.find("<p>No job ran.</p>"), std::string::npos);
  EXPECT_EQ(page.find("<svg"), std::string::npos);
}

TEST(HtmlReportTest, TimelineDrawsEveryStepAndFileOfTheFirstJobsOfEachOutcome) {
  const std::string page = ReportHtml(testsupport::SyntheticReport(24));
  const std::string timeline = Between(page, "<h2>Timeline</h2>", "</section>");
  // 24 units: 18 succeed, one each ends in each other way, one is idle.
  EXPECT_NE(timeline.find(">Success &middot; 18 jobs</text>"), std::string::npos);
  EXPECT_NE(timeline.find(">and 10 more jobs of this outcome"), std::string::npos);
  EXPECT_NE(timeline.find(">Cancelled &middot; 1 job</text>"), std::string::npos);
  EXPECT_EQ(timeline.find("Not in the run"), std::string::npos);
  // A successful job's lane: its three files, the script and the login.
  const std::string lane = Between(timeline, ">10.1.0.2</text>", "<text");
  EXPECT_EQ(Count(lane, "<rect class=\"f0\""), 2u);
  EXPECT_EQ(Count(lane, "<rect class=\"f1\""), 1u);
  EXPECT_NE(lane.find("<title>/opt/tarvo/apps.tar 350000 B "), std::string::npos);
  EXPECT_NE(lane.find("<rect class=\"script\""), std::string::npos);
  EXPECT_NE(lane.find("<title>login 0.850 s</title>"), std::string::npos);
  EXPECT_EQ(lane.find("<title>copy"), std::string::npos) << "the files stand for the copy";
}

TEST(HtmlReportTest, ThousandUnitsStayGroupedAndUnderTwoMegabytes) {
  for (const bool longTexts : {false, true}) {
    const RunReport report = testsupport::SyntheticReport(1000, longTexts);
    const std::string page = ReportHtml(report);
    EXPECT_LT(page.size(), 2u * 1024 * 1024) << "long texts: " << longTexts;
    const std::string timeline = Between(page, "<h2>Timeline</h2>", "</section>");
    // Four outcomes with jobs (Success, Failed Connection, Failed,
    // Cancelled), each with its activity lane and kTimelineLanesPerGroup
    // lanes of jobs.
    EXPECT_EQ(Count(timeline, "<text class=\"group\""), 4u);
    EXPECT_EQ(Count(timeline, ">running (peak "), 4u);
    EXPECT_EQ(Count(timeline, ">10.1."), 4u * kTimelineLanesPerGroup);
    std::size_t jobs = 0;
    const std::string more = ">and ";
    for (std::size_t at = timeline.find(more); at != std::string::npos;
         at = timeline.find(more, at + 1)) {
      jobs += std::stoul(timeline.substr(at + more.size()));
    }
    const std::size_t ran =
        static_cast<std::size_t>(std::count_if(report.units.begin(), report.units.end(),
                                               [](const UnitReportRow& r) { return r.jobRan(); }));
    EXPECT_EQ(jobs + 4u * kTimelineLanesPerGroup, ran);
    // Still every unit in the table.
    EXPECT_EQ(Count(Between(page, "<tbody>", "</tbody>"), "<tr "), 1000u);
    EXPECT_TRUE(ValidUtf8(page));
  }
}

TEST(HtmlReportTest, PageIsWrittenBesideTheOtherReportFiles) {
  const std::filesystem::path folder = testsupport::ScratchDirectory("html-report-files");
  std::filesystem::remove_all(folder);
  const RunReport report = SmallReport();
  std::string error;
  ASSERT_TRUE(WriteRunReport(folder.string(), report, &error)) << error;
  std::ifstream file(folder / RunReport::kHtmlName, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), ReportHtml(report));
  EXPECT_EQ(std::string(RunReport::kHtmlName), "fieldloader-report.html");
}

}  // namespace
