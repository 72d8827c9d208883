// Inside the element-set reader: the two-line decoding shared with the fixed-record reader, the
// keyword records that the four OMM encodings are read into, and the one mapping of such a record
// to an ElementSet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/io/fixed_field.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"

namespace orvus::elements {

// The label that begins the first line of every message of the two-line decoding (and of an
// element file that cannot be opened), so that a caller can tell them from the others.
inline constexpr std::string_view kTwoLineLabel = " TWO-LINE ELEMENTS: ";

// Fields of element lines 1 and 2 as written: degrees, revolutions per day, day of year.
struct TwoLineFields {
  std::int64_t year2 = 0;
  double day_of_year = 0.0;
  double mean_motion_dot = 0.0, mean_motion_ddot = 0.0;  // rev/day^2, rev/day^3
  double bstar = 0.0;                                    // 1 / Earth radii
  double inclination = 0.0, raan = 0.0, eccentricity = 0.0, arg_perigee = 0.0;
  double mean_anomaly = 0.0, mean_motion = 0.0;
  std::int64_t revolution_number = 0;
};

// Checksum digit of an element line: over columns 1-68 digits count their value, '-' counts
// 1, everything else 0; the sum modulo 10.
int checksum(std::string_view line);

// Line 1 (69 columns): checksum, line number, epoch, derivatives of mean motion, B*.
// Line 2: checksum, line number, elements, revolution number; mean motion must be positive
// and eccentricity below 1. Both raise Error with the console lines of the element reader.
void decode_line1(const std::string& line, const FieldSource& src, TwoLineFields& f);
void decode_line2(const std::string& line, const FieldSource& src, TwoLineFields& f);

// Converts decoded fields to the model's units and the epoch to a day number and seconds
// (through eraCal2jd; two-digit years 57-99 are 19xx, 00-56 are 20xx). Raises Error when the
// day of the year (line `line1` of `file`) lies outside 1 to 366.
void finish_two_line(const TwoLineFields& f, std::string_view file, long line1, ElementSet& set);

// Catalogue number of columns 3-7: five digits, or a letter for the first digit (A = 10 ...
// Z = 33, I and O unused). False when the field is neither.
bool catalogue_number(std::string_view field, std::int64_t& number);

// One OMM as keyword-value pairs in the order met, with where it begins (line, 0 unknown).
// The flat forms (CSV rows, JSON objects) may leave out the metadata: CENTER_NAME,
// REF_FRAME, TIME_SYSTEM and MEAN_ELEMENT_THEORY are then EARTH, TEME, UTC and SGP4, and
// OBJECT_ID may be missing.
struct KeywordRecord {
  std::vector<std::pair<std::string, std::string>> fields;
  long line = 0;
  bool flat = false;
};

enum class Format { two_line, kvn, xml, json, csv };

// The encoding of a file's text, recognised by its first non-blank content.
Format detect_format(std::string_view text);

// Receives each OMM record as soon as it is complete: a file is never held whole as keywords,
// only as the element sets it gives. A set holds at most kMaxKeywords keywords.
using RecordSink = std::function<void(KeywordRecord&)>;
inline constexpr std::size_t kMaxKeywords = 512;

std::vector<ElementSet> read_two_line_sets(std::string_view text, const std::string& source);
void read_kvn(std::string_view text, const std::string& source, const RecordSink& sink);
void read_xml(std::string_view text, const std::string& source, const RecordSink& sink);
void read_json(std::string_view text, const std::string& source, const RecordSink& sink);
void read_csv(std::string_view text, const std::string& source, const RecordSink& sink);

// Maps one OMM record (set `set` of the file, counted from 1) to an ElementSet, refusing
// what the model cannot use. Raises Error naming the file and the set.
ElementSet from_keywords(const KeywordRecord& record, const std::string& source, std::size_t set);

// Every set of `text` read as `format`.
std::vector<ElementSet> read_text(std::string_view text, const std::string& source, Format format);

// Error lines: " ELEMENT FILE "f", SET n ("NAME"): what." / " ELEMENT FILE "f", LINE n: what."
[[noreturn]] void set_error(const std::string& source, std::size_t set, std::string_view name,
                            const std::string& what);
[[noreturn]] void line_error(const std::string& source, long line, const std::string& what);

// Texts quoted in messages (orvus/error.hpp).
using orvus::printable;

// 1-based line of byte `offset` of `text`.
long line_of(std::string_view text, std::size_t offset);

}  // namespace orvus::elements
