#include <gtest/gtest.h>

#include <string>

#include "core/process/impact_explanation.h"

namespace corvalent {
namespace {

using Ports = std::map<std::int32_t, std::vector<int>>;
namespace Explainer = OnDeviceImpactExplainer;

std::string repeated(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// "e" with a combining acute: one character, two code points.
const std::string accentedE = "e\xCC\x81";
const std::string thumbsUp = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // with a skin tone: one character

SelectedImpactGroup group(std::string title, bool application, bool complete, std::vector<std::int32_t> pids,
                          std::string impact = "Stops it.", std::vector<std::string> facts = {})
{
    SelectedImpactGroup g;
    g.id = title;
    g.title = std::move(title);
    g.impact = std::move(impact);
    g.isApplication = application;
    g.isCompleteSelection = complete;
    g.selectedPIDs = std::move(pids);
    g.facts = std::move(facts);
    return g;
}

TEST(ImpactExplanationPrompt, CarriesOnlyTheAssessmentFlattenedAndCut)
{
    ImpactAssessment assessment;
    assessment.selectedCount = 5;
    assessment.groupCount = 5;
    assessment.omittedGroupCount = 2;
    assessment.highImpactNotes = {"An active coding session may end.",
                                  "Local containers or databases may be interrupted."};
    assessment.groups = {
        group("Notes", true, true, {101, 102}, "Stopping Notes may close its windows.",
              {"Selected processes: notes.", "Working in: diary."}),
        group("Data\nworkers", false, false, {201}, "Line one\r\nline two.", {"Detected roles: gradle.\n"}),
        group(repeated(accentedE, 100), true, false, {301}, repeated(thumbsUp, 200)),
    };
    const Ports ports{{101, {8080, 3000}}, {102, {3000}}, {999, {22}}};

    const std::string expected =
        R"(Action: normal stop, not force stop. Selected processes: 5. Selected groups: 5.
Known possible serious effects: An active coding session may end. Local containers or databases may be interrupted.
Group facts:
- Notes: method is normal application quit request; selection is all stoppable members. Effect: Stopping Notes may close its windows. Facts: Selected processes: notes. Working in: diary. Listening TCP ports: 3000, 8080.
- Data workers: method is individual process termination signals; selection is only some members. Effect: Line one  line two. Facts: Detected roles: gradle. 
- )" + repeated(accentedE, 80) +
        R"(: method is individual process termination signals; selection is only some members. Effect: )" +
        repeated(thumbsUp, 180) + R"( Facts: 
Omitted groups: 2. Do not assume facts about omitted groups.)";
    EXPECT_EQ(Explainer::prompt(assessment, ports), expected);
}

TEST(ImpactExplanationPrompt, EmptyAssessment)
{
    ImpactAssessment assessment;
    EXPECT_EQ(Explainer::prompt(assessment, {}),
              "Action: normal stop, not force stop. Selected processes: 0. Selected groups: 0.\n"
              "Known possible serious effects: No specific high-impact role identified.\n"
              "Group facts:\n\n"
              "Omitted groups: 0. Do not assume facts about omitted groups.");
}

class ImpactExplanationReply : public ::testing::Test {
protected:
    ImpactAssessment assessment;
    void SetUp() override
    {
        assessment.groups = {
            group("Database workers", false, true, {1}), group("Web tools", false, true, {2}),
            group(repeated(accentedE, 3) + " helper", false, true, {3}),
            group("\xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A box", false, true, {4}),
            group("", false, true, {5})};
    }
    std::optional<std::string> accepted(const std::string& reply, const Ports& ports = {})
    {
        return Explainer::acceptedReply(reply, assessment, ports);
    }
};

TEST_F(ImpactExplanationReply, EmptyAfterTrimmingThrows)
{
    EXPECT_THROW(accepted(" \n\t\r\n "), ImpactExplanationError);
    EXPECT_THROW(accepted(""), ImpactExplanationError);
}

TEST_F(ImpactExplanationReply, NamesAGroupByTitleOrLongFirstWord)
{
    EXPECT_EQ(accepted("  \nStopping WEB TOOLS ends the dev server.\n"), "Stopping WEB TOOLS ends the dev server.");
    EXPECT_TRUE(accepted("Check the database first."));
    EXPECT_FALSE(accepted("Check the web first."));  // a first word of three characters
    // Four emoji are four characters, though eight code units.
    EXPECT_TRUE(accepted("The \xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A\xF0\x9F\xA6\x8A process stops."));
    // Three accented letters are three characters, though six code points.
    EXPECT_FALSE(accepted("The " + repeated(accentedE, 3) + " process stops."));
    EXPECT_FALSE(accepted("Nothing here is about the selection."));
}

TEST_F(ImpactExplanationReply, NamesAPortAsAPlainSubstring)
{
    const Ports ports{{42, {80}}, {43, {5432}}};
    EXPECT_TRUE(accepted("Port 80 stops answering.", ports));
    EXPECT_TRUE(accepted("Port 5432, used by the app, closes.", ports));
    // The digits anywhere in the reply count, inside a longer number too.
    EXPECT_TRUE(accepted("Port 180 stops answering.", ports));
    EXPECT_TRUE(accepted("Port 8080 stops answering.", ports));
    EXPECT_TRUE(accepted("Port 54321 stops answering.", ports));
    EXPECT_FALSE(accepted("Port 8 stops answering.", ports));
    // Any pid's ports count, not only the groups' own.
    EXPECT_TRUE(accepted("Port 22 stops answering.", Ports{{999, {22}}}));
}

TEST_F(ImpactExplanationReply, LongReplyIsCutBetweenCharacters)
{
    const auto reply = Explainer::acceptedReply("Database " + repeated(thumbsUp, 1500), assessment, {});
    EXPECT_EQ(reply, "Database " + repeated(thumbsUp, 1200 - 9));
}

}  // namespace
}  // namespace corvalent
