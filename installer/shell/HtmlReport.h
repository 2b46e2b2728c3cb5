// The run report as one page to look at, "fieldloader-report.html", written
// beside the JSON and CSV: a header, a bar of the outcomes, a timeline of the
// jobs' steps and files on one time axis, the bytes per second of the whole
// run, and the table of the units with a link to each unit's transcript
// (sortable and filterable by a few lines of inline script, a plain table
// without it). The charts come first: a long table would push them out of
// sight. Everything is inline (style, SVG, script): the page refers to
// nothing but the transcripts beside it, so it can be mailed or archived on
// its own.
//
// Units report their group, version and status as arbitrary bytes: each is
// shown as PrintableText (valid UTF-8 stays, other bytes read \xNN) with the
// markup characters turned into entities, so no unit can put markup or
// script into the page, and cut to kHtmlTextLimit bytes so that a page of a
// thousand units stays small (the JSON keeps the whole text).
//
// The timeline stays readable for a large run: it draws the units in groups
// of one outcome, each with a lane of how many of its jobs ran at each
// moment, then the first kTimelineLanesPerGroup jobs of the group by start
// time and a count of the rest.
#pragma once

#include <cstddef>
#include <string>

#include "shell/RunReport.h"

inline constexpr std::size_t kHtmlTextLimit = 40;
inline constexpr std::size_t kTimelineLanesPerGroup = 8;

// The bytes as text for HTML content or a quoted attribute value.
std::string HtmlText(const std::string& bytes);

std::string ReportHtml(const RunReport& report);
