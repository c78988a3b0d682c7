// The first pass's quick entry check against the full parser. From every
// place an entry might start in any bytes, what the check takes the parser
// reads the same way: it ends at the same place, is an object, and has the
// same members of note. The check stays inside the bytes.
#include <boost/json/parser.hpp>
#include <string>

#include "fuzz_check.h"
#include "reader/entry_check.h"
#include "reader/json_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at < size; ++at) {
    if (text[at] != '{') continue;
    tlq::EntryFacts facts;
    size_t end = tlq::checkEntry(text, at, facts);
    if (end == tlq::kEntryNotChecked) continue;
    FUZZ_CHECK(end > at && end <= size && text[end - 1] == '}');
    while (end < size && tlq::isJsonSpace(text[end])) ++end;  // as the parser goes on past it

    boost::json::parse_options options;
    options.max_depth = 100;
    boost::json::parser parser({}, options);
    boost::system::error_code ec;
    size_t used = at + parser.write_some(text.data() + at, size - at, ec);
    FUZZ_CHECK(!ec);
    FUZZ_CHECK(used == end);
    boost::json::value value = parser.release();
    FUZZ_CHECK(value.is_object());
    const boost::json::object& entry = value.get_object();
    FUZZ_CHECK(facts.anyMember == !entry.empty());
    FUZZ_CHECK(facts.inclino2 == entry.contains("inclino2"));
    FUZZ_CHECK(facts.dlen == entry.contains("dlen"));
  }
  return 0;
}
