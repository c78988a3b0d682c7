// The quality of the recording's data in the workbook: a section of the
// sheet "recording" with the figures the log and the summary show, and the
// sheet "gaps" listing the gaps one by one.
#pragma once

#include <string>
#include <vector>

#include "table/date_time.h"
#include "table/quality.h"
#include "xlsx/book.h"

namespace tlq {

// From `row` of `sheet` on: a row "quality", then one per figure, labelled
// as the log's columns are and empty where the figure does not apply, then
// a row "column" over "least", "greatest" and "mean", and those of each
// value column under its name in `names` (the table's columns). Stamps are
// date-times as the data sheet has them by `zones`, else text.
void writeQualitySection(Book& book, lxw_worksheet* sheet, lxw_row_t row, const QualityFigures& quality,
                         const std::vector<std::string>& names, const TimeStampZones& zones);

// The sheet "gaps", there also without a gap (its header row alone): per
// gap listed, "from" and "to" (date-times as the data sheet has the stamps,
// else their text), "seconds" and "samples missing"; then, where more gaps
// were found than listed, a row saying how many.
void writeGapsSheet(Book& book, const QualityFigures& quality, const TimeStampZones& zones);

}  // namespace tlq
