#include "HVN/Code/Public/HVNBaseVC.h"

#include <gtest/gtest.h>
#include <memory>

#include "Platform/RunLoop.h"
#include "Support/RecordingView.h"

namespace {

using hvn::test::RecordingView;

class ScreenWithButtons : public HVNBaseVC {
public:
    explicit ScreenWithButtons(HVNScreenView* view) : HVNBaseVC(view) {}
    HVNScreenView* functionButtonView() override { return &buttons; }
    void ask(std::function<void(HVNAlertAnswer)> answer) {
        HVNAlert a;
        a.messageText = "Sure?";
        a.buttons = {"OK", "Cancel"};
        showAlert(a, std::move(answer));
    }
    void choose(std::function<void(std::vector<std::string>)> chosen) { showOpenPanel({}, std::move(chosen)); }
    RecordingView buttons;
};

class HVNBaseVCTest : public ::testing::Test {
protected:
    void SetUp() override {
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
    }
    void TearDown() override { hvn::RunLoop::main().reset(); }
};

TEST_F(HVNBaseVCTest, ShowingAndLeavingPlaceTheScreenAndItsButtons) {
    RecordingView window, buttonBar, screenView;
    ScreenWithButtons screen(&screenView);
    screen.showMeFromParentView(window);
    screen.buttonParentView(buttonBar);
    ASSERT_EQ(screenView.parent, &window);
    EXPECT_TRUE(screenView.lastFill);
    EXPECT_FALSE(screenView.lastOrigin) << "the screen keeps its own origin";
    ASSERT_EQ(screen.buttons.parent, &buttonBar);
    ASSERT_TRUE(screen.buttons.lastOrigin);
    EXPECT_EQ(screen.buttons.lastOrigin->x, 10);
    EXPECT_EQ(screen.buttons.lastOrigin->y, 5);
    EXPECT_FALSE(screen.buttons.lastFill);

    screen.exit();
    EXPECT_EQ(screenView.parent, nullptr);
    EXPECT_EQ(screen.buttons.parent, nullptr);
    EXPECT_TRUE(window.subviews.empty());
    EXPECT_TRUE(buttonBar.subviews.empty());
}

TEST_F(HVNBaseVCTest, AnswersArriveLaterOnTheMainLoopEvenFromAViewThatAnswersAtOnce) {
    RecordingView view;
    view.answerAlertsAt = 1;
    ScreenWithButtons screen(&view);
    std::optional<size_t> answered;
    screen.ask([&](HVNAlertAnswer a) { answered = a.button; });
    EXPECT_FALSE(answered) << "never inside the view's call";
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(answered, 1u);

    std::vector<std::string> chosen{"unset"};
    screen.choose([&](std::vector<std::string> p) { chosen = std::move(p); });
    ASSERT_TRUE(view.choose({"/a", "/b"}));
    EXPECT_EQ(chosen, (std::vector<std::string>{"unset"}));
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(chosen, (std::vector<std::string>{"/a", "/b"}));
}

TEST_F(HVNBaseVCTest, AnswersForAControllerThatIsGoneAreDropped) {
    RecordingView view;
    bool called = false;
    {
        ScreenWithButtons screen(&view);
        screen.ask([&](HVNAlertAnswer) { called = true; });
        screen.onMainLoop([&] { called = true; });
    }
    EXPECT_TRUE(view.answerAlert(0));
    hvn::RunLoop::main().runPending();
    EXPECT_FALSE(called);
}

TEST_F(HVNBaseVCTest, WithoutAViewAlertsTakeTheirFirstButtonAndPanelsChooseNothing) {
    ScreenWithButtons screen(nullptr);
    std::optional<size_t> answered;
    std::optional<size_t> chosenCount;
    screen.ask([&](HVNAlertAnswer a) { answered = a.button; });
    screen.choose([&](std::vector<std::string> p) { chosenCount = p.size(); });
    screen.exit();
    EXPECT_FALSE(answered);
    hvn::RunLoop::main().runPending();
    EXPECT_EQ(answered, 0u);
    EXPECT_EQ(chosenCount, 0u);
}

}  // namespace
