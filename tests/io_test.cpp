// Shared text input and output: fixed fields, free-form records, edit descriptors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/io/edit_format.hpp"
#include "core/io/fixed_field.hpp"
#include "core/io/text_input.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::fatal_lines;

const FieldSource kSrc{"f.txt", 7};

TEST(FixedField, IntegersAndReals) {
  EXPECT_EQ(read_int_field("  12", 1, 4, kSrc), 12);
  EXPECT_EQ(read_int_field("1 2 ", 1, 4, kSrc), 12);  // blanks ignored
  EXPECT_EQ(read_int_field("    ", 1, 4, kSrc), 0);   // all blank
  EXPECT_EQ(read_int_field("ab-3", 3, 2, kSrc), -3);
  EXPECT_EQ(read_int_field("12", 1, 6, kSrc), 12);  // past the record is blank
  // Implied decimals, explicit point, exponents with and without a letter.
  EXPECT_DOUBLE_EQ(read_real_field("   1234", 1, 7, 4, kSrc), 0.1234);
  EXPECT_DOUBLE_EQ(read_real_field("-11606", 1, 6, 5, kSrc), -0.11606);
  EXPECT_DOUBLE_EQ(read_real_field(" 12.5  ", 1, 7, 4, kSrc), 12.5);
  EXPECT_DOUBLE_EQ(read_real_field("1.5E3", 1, 5, 2, kSrc), 1500.0);
  EXPECT_DOUBLE_EQ(read_real_field("15-3", 1, 4, 1, kSrc), 1.5e-3);
  EXPECT_DOUBLE_EQ(read_real_field("2D+1", 1, 4, 0, kSrc), 20.0);
  EXPECT_EQ(read_real_field("       ", 1, 7, 4, kSrc), 0.0);
  EXPECT_EQ(read_real_field("1e-999", 1, 6, 0, kSrc), 0.0);  // underflow reads as zero
}

TEST(FixedField, NotANumberNamesFileLineAndColumns) {
  auto lines = fatal_lines([] { read_int_field("xx1a3", 3, 3, kSrc); });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], " INPUT CONVERSION ERROR IN \"f.txt\", LINE 7, COLUMNS 3-5:");
  EXPECT_EQ(lines[1], " \"1a3\" IS NOT AN INTEGER.");
  for (const char* bad : {"1.2.3", "--1", "1E", "E5", ".", "1,5", "1e999", "nan", "inf", "\t1"}) {
    EXPECT_FALSE(fatal_lines([&] { read_real_field(bad, 1, 8, 2, kSrc); }).empty()) << bad;
  }
  EXPECT_FALSE(fatal_lines([] { read_int_field("99999999999999999999", 1, 20, kSrc); }).empty());
}

TEST(FixedField, RecordsArePaddedOrCutAndLoseTheirCarriageReturn) {
  EXPECT_EQ(fixed_record("abc\r", 5), "abc  ");
  EXPECT_EQ(fixed_record("abcdefg", 3), "abc");
  EXPECT_EQ(fixed_record("", 2), "  ");
}

TEST(FreeForm, NumbersSeparatorsContinuationAndErrors) {
  test::ScratchDir dir;
  const auto read = [&](const std::string& text, std::size_t n) {
    dir.write("in.txt", text);
    TextInput in;
    EXPECT_TRUE(open_text(in, dir.file("in.txt")));
    std::vector<double> v(n);
    read_free_form(in, v, "RECORD 4 (X)");
    return v;
  };
  EXPECT_EQ(read("1, 2 ,3\t4\n", 4), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(read("-1.5e2 2d1 +.5 7. 99 100\r\n", 4), (std::vector<double>{-150, 20, 0.5, 7}));
  EXPECT_EQ(read("1,\n\n 2\n3,4\n", 4), (std::vector<double>{1, 2, 3, 4}));  // continues
  const auto error = [&](const std::string& text) { return fatal_lines([&] { read(text, 2); }); };
  auto lines = error("1,,2\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("in.txt"), std::string::npos);
  EXPECT_NE(lines[0].find("RECORD 4 (X)"), std::string::npos);
  EXPECT_EQ(lines[1], " EMPTY VALUE BETWEEN COMMAS.");
  EXPECT_EQ(error(",1,2\n")[1], " EMPTY VALUE BETWEEN COMMAS.");
  EXPECT_EQ(error("1 abc\n")[1], " \"abc\" IS NOT A FINITE NUMBER.");
  EXPECT_EQ(error("NaN 1\n")[1], " \"NaN\" IS NOT A FINITE NUMBER.");
  EXPECT_EQ(error("1 Infinity\n")[1], " \"Infinity\" IS NOT A FINITE NUMBER.");
  EXPECT_EQ(error("1e400 1\n")[1], " \"1e400\" IS NOT A FINITE NUMBER.");
  EXPECT_NE(error("1\n")[1].find("END OF FILE"), std::string::npos);
}

std::string f(double v, int w, int d) {
  Record r;
  put_f(r, v, w, d);
  return std::string(r.view());
}
std::string e(double v, int w, int d) {
  Record r;
  put_e(r, v, w, d);
  return std::string(r.view());
}

TEST(EditFormat, FixedPoint) {
  EXPECT_EQ(f(12.3456, 9, 4), "  12.3456");
  EXPECT_EQ(f(-45.5, 8, 4), "-45.5000");
  EXPECT_EQ(f(0.00005, 8, 4), "  0.0001");  // rounds up at the last decimal (0.00005 > 5e-5)
  EXPECT_EQ(f(1.23446, 8, 4), "  1.2345");
  EXPECT_EQ(f(1.23444, 8, 4), "  1.2344");
  EXPECT_EQ(f(179.99996, 9, 4), " 180.0000");
  EXPECT_EQ(f(-0.00001, 9, 4), "  -0.0000");    // keeps its sign
  EXPECT_EQ(f(-1000.0, 9, 4), "*********");     // too wide
  EXPECT_EQ(f(-999.99999, 9, 4), "*********");  // rounding makes it too wide
  EXPECT_EQ(f(-999.9999, 9, 4), "-999.9999");
  EXPECT_EQ(f(0.5, 5, 4), ".5000");  // optional leading zero dropped when narrow
  EXPECT_EQ(f(-0.5, 6, 4), "-.5000");
  EXPECT_EQ(f(86400.0, 10, 3), " 86400.000");
  EXPECT_EQ(f(std::nan(""), 9, 4), "      NaN");
}

TEST(EditFormat, ExponentIntegerAndText) {
  EXPECT_EQ(e(1234.56, 11, 4), " 0.1235E+04");
  EXPECT_EQ(e(-1234.0, 11, 4), "-0.1234E+04");
  EXPECT_EQ(e(0.0, 11, 4), " 0.0000E+00");
  EXPECT_EQ(e(9.99996, 11, 4), " 0.1000E+02");
  EXPECT_EQ(e(0.000123456, 11, 4), " 0.1235E-03");
  EXPECT_EQ(e(-3.0e-120, 11, 4), "-0.3000-119");
  EXPECT_EQ(e(1.0, 6, 4), "******");
  Record r;
  put_i(r, 42, 5);
  put_i(r, -7, 3);
  put_i(r, 12345, 4);
  put_a(r, "abcdef", 3);
  put_a(r, "ab", 4);
  put_x(r, 2);
  put_a(r, "z");
  EXPECT_EQ(std::string(r.view()), "   42 -7****abc  ab  z");
}

}  // namespace
}  // namespace orvus
