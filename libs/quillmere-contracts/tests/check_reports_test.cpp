#include <quillmere/contracts/check_reports.hpp>

#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmere {
namespace {

TEST(PrecheckReportTest, ListsEveryFailedCheckInTheFixedOrder) {
  struct Case {
    PrecheckReport report;
    std::vector<std::string> failed;
  };
  const std::vector<Case> cases = {
      {{true, true, true}, {}},
      {{false, true, true}, {"disk_space_sufficient"}},
      {{true, false, true}, {"no_conflicting_apply_in_progress"}},
      {{true, true, false}, {"artifacts_resolvable"}},
      {{false, true, false}, {"disk_space_sufficient", "artifacts_resolvable"}},
      {{false, false, false}, {"disk_space_sufficient", "no_conflicting_apply_in_progress", "artifacts_resolvable"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(brackfern::write_pretty_json(c.report.to_json()));
    EXPECT_EQ(c.report.evaluate(), c.failed);
  }
}

TEST(PostcheckReportTest, OnlyPassedPasses) {
  using enum PostcheckOutcome;
  struct Case {
    PostcheckReport report;
    std::vector<std::string> failed;
  };
  const std::vector<Case> cases = {
      {{Passed, Passed}, {}},
      {{Unknown, Passed}, {"services_healthy=Unknown"}},
      {{Passed, Failed}, {"no_crash_loop=Failed"}},
      {{Failed, Unknown}, {"services_healthy=Failed", "no_crash_loop=Unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(brackfern::write_pretty_json(c.report.to_json()));
    EXPECT_EQ(c.report.evaluate(), c.failed);
  }
}

TEST(CheckReportsTest, FailureListIsWrittenInDebugListForm) {
  EXPECT_EQ(debug_list({}), "[]");
  EXPECT_EQ(debug_list({"services_healthy=Unknown"}), R"(["services_healthy=Unknown"])");
  EXPECT_EQ(debug_list({"disk_space_sufficient", "artifacts_resolvable"}),
            R"(["disk_space_sufficient", "artifacts_resolvable"])");
  EXPECT_EQ(debug_list({"a\"b"}), R"(["a\"b"])");
}

struct ReadCase {
  const char* name;
  const char* text;
  std::string error;  // empty: reads
};

TEST(CheckReportsTest, ReadsReportsWithRequiredMembersAndIgnoresOthers) {
  const std::vector<ReadCase> precheck = {
      {"all members and an extra",
       R"({"disk_space_sufficient": true, "no_conflicting_apply_in_progress": false, "artifacts_resolvable": true, "host": "a"})",
       ""},
      {"missing member", R"({"disk_space_sufficient": true, "no_conflicting_apply_in_progress": true})",
       "missing field `artifacts_resolvable`"},
      {"not a boolean",
       R"({"disk_space_sufficient": "yes", "no_conflicting_apply_in_progress": true, "artifacts_resolvable": true})",
       "invalid type: string \"yes\", expected a boolean"},
  };
  for (const ReadCase& c : precheck) {
    SCOPED_TRACE(c.name);
    auto parsed = brackfern::parse_json(c.text);
    ASSERT_TRUE(parsed.has_value());
    auto read = brackfern::read_tree<PrecheckReport>(*parsed);
    if (c.error.empty()) {
      ASSERT_TRUE(read.has_value()) << read.error().debug();
      EXPECT_EQ(*read, (PrecheckReport{true, false, true}));
    } else {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error().message, c.error);
    }
  }

  const std::vector<ReadCase> postcheck = {
      {"both members and an extra", R"({"no_crash_loop": "failed", "services_healthy": "unknown", "x": 1})", ""},
      {"missing member", R"({"services_healthy": "passed"})", "missing field `no_crash_loop`"},
      {"unknown outcome", R"({"services_healthy": "Passed", "no_crash_loop": "passed"})",
       "unknown variant `Passed`, expected one of `passed`, `failed`, `unknown`"},
  };
  for (const ReadCase& c : postcheck) {
    SCOPED_TRACE(c.name);
    auto parsed = brackfern::parse_json(c.text);
    ASSERT_TRUE(parsed.has_value());
    auto read = brackfern::read_tree<PostcheckReport>(*parsed);
    if (c.error.empty()) {
      ASSERT_TRUE(read.has_value()) << read.error().debug();
      EXPECT_EQ(*read, (PostcheckReport{PostcheckOutcome::Unknown, PostcheckOutcome::Failed}));
    } else {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error().message, c.error);
    }
  }
}

}  // namespace
}  // namespace quillmere

namespace quillmere {
namespace {

// Where the reader reports problems in a report: a repeated member before its
// colon, a wrong-typed container before its bracket, an enumeration value that
// is not a string at its first byte; and always the first problem in
// document order, whatever its kind.
TEST(CheckReportReading, ReportsEachProblemWhereTheReaderMeetsIt) {
  struct Case {
    const char* text;
    bool precheck;
    const char* error;
  };
  const std::vector<Case> cases = {
      {R"({"disk_space_sufficient": true, "disk_space_sufficient"  : true})", true,
       R"(Error("duplicate field `disk_space_sufficient`", line: 1, column: 57))"},
      {R"({"disk_space_sufficient": [1], "no_conflicting_apply_in_progress": true, "artifacts_resolvable": true})",
       true, R"(Error("invalid type: sequence, expected a boolean", line: 1, column: 26))"},
      {"[true, true, false]", true,
       R"(Error("invalid type: sequence, expected struct PrecheckReport", line: 1, column: 0))"},
      {R"({"services_healthy": 17, "no_crash_loop": "passed"})", false,
       R"(Error("expected value", line: 1, column: 22))"},
      {R"({"services_healthy": [17], "no_crash_loop": "passed"})", false,
       R"(Error("expected value", line: 1, column: 22))"},
      {R"({"services_healthy": {"passed": null}, "no_crash_loop": "passed"})", false,
       R"(Error("invalid type: map, expected variant identifier", line: 1, column: 21))"},
      // A wrong-typed member before a later syntax error, or a later repeated member.
      {R"({"disk_space_sufficient": 1, "no_conflicting_apply_in_progress": tru})", true,
       R"(Error("invalid type: integer `1`, expected a boolean", line: 1, column: 27))"},
      {R"({"disk_space_sufficient": 1, "disk_space_sufficient": true})", true,
       R"(Error("invalid type: integer `1`, expected a boolean", line: 1, column: 27))"},
      {R"({"services_healthy": "passed", "no_crash_loop": "passed"} x)", false,
       R"(Error("trailing characters", line: 1, column: 59))"},
      {R"({"services_healthy": "passed", "no_crash_loop": "passed", "x": [1 2]})", false,
       R"(Error("expected `,` or `]`", line: 1, column: 67))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto error = c.precheck ? brackfern::read_document<PrecheckReport>(c.text).error()
                                  : brackfern::read_document<PostcheckReport>(c.text).error();
    EXPECT_EQ(error.debug(), c.error);
  }
}

}  // namespace
}  // namespace quillmere
