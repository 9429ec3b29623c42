#include "reader/ui/customize_dialog.h"

#include "platform/scripted_prompt.h"
#include "reader/settings.h"
#include "support/test_support.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

using Strings = std::vector<std::string>;
using Swatch = CustomizeDialog::Swatch;

// Three panes as plain colours, every change recorded in order, and OK saving to a real
// settings file as the frame does.
class CustomizeDialogTest : public testing::Test {
  protected:
    CustomizeDialogTest()
    {
        CustomizeDialog::Panes panes;
        panes.treeColour = [this] { return m_colours.left; };
        panes.listColour = [this] { return m_colours.middle; };
        panes.imageColour = [this] { return m_colours.right; };
        panes.setTreeColour = [this](ColourRef c) { set("tree", m_colours.left, c); };
        panes.setListColour = [this](ColourRef c) { set("list", m_colours.middle, c); };
        panes.setImageColour = [this](ColourRef c) { set("image", m_colours.right, c); };
        panes.save = [this](const ReaderSettings& colours) {
            saveSettings(settingsPath(), colours);
        };
        m_dialog = std::make_unique<CustomizeDialog>(m_prompt, panes);
    }

    void set(const char* pane, ColourRef& colour, ColourRef value)
    {
        colour = value;
        m_changes.push_back(std::string(pane) + " " + std::to_string(value));
    }
    std::string settingsPath() const { return m_dir.file("setting.dat"); }

    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    ReaderSettings m_colours{0x0000FF, 0x00FF00, 0xFF8080};
    Strings m_changes;
    std::unique_ptr<CustomizeDialog> m_dialog;
};

TEST_F(CustomizeDialogTest, SwatchPaintsItsColour)
{
    ColourSwatch* swatch = m_dialog->swatchButton(Swatch::Left);
    const QImage picture = swatch->grab().toImage();
    EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor(255, 0, 0));
}

TEST_F(CustomizeDialogTest, ClickingASwatchChoosesFromItsColour)
{
    m_prompt.queueColour(Rgb{1, 2, 3});
    QTest::mouseClick(m_dialog->swatchButton(Swatch::Right), Qt::LeftButton);
    EXPECT_EQ(m_prompt.colourDialogs(), std::vector<Rgb>{(Rgb{0x80, 0x80, 0xFF})});
    EXPECT_EQ(m_changes, Strings{"image 197121"});
    EXPECT_EQ(m_dialog->colour(Swatch::Right), 0x030201u);
}

TEST_F(CustomizeDialogTest, MiddleColourGivesTheTreeItsOwnColourBack)
{
    m_prompt.queueColour(Rgb{0, 0, 0});
    EXPECT_TRUE(m_dialog->chooseColour(Swatch::Middle));
    EXPECT_EQ(m_changes, (Strings{"list 0", "tree 255"}));
}

TEST_F(CustomizeDialogTest, SameOrCancelledColourChangesNothing)
{
    m_prompt.queueColour(Rgb{255, 0, 0});
    EXPECT_FALSE(m_dialog->chooseColour(Swatch::Left));
    EXPECT_FALSE(m_dialog->chooseColour(Swatch::Left));
    EXPECT_TRUE(m_changes.empty());
}

TEST_F(CustomizeDialogTest, OkSavesWhatThePanesNowShow)
{
    m_prompt.queueColour(Rgb{0, 0, 0});
    m_dialog->chooseColour(Swatch::Left);
    // A colour set on a pane from elsewhere while the dialog is open is saved too.
    m_colours.right = 0x123456;
    m_dialog->accept();
    EXPECT_EQ(loadSettings(settingsPath()), (ReaderSettings{0, 0x00FF00, 0x123456}));
}

TEST_F(CustomizeDialogTest, CancelKeepsTheNewColourOnScreenButNotInTheFile)
{
    ASSERT_TRUE(saveSettings(settingsPath(), m_colours));
    m_prompt.queueColour(Rgb{0, 0, 0});
    m_dialog->chooseColour(Swatch::Middle);
    m_dialog->reject();
    EXPECT_EQ(m_colours.middle, 0u);
    EXPECT_EQ(loadSettings(settingsPath())->middle, 0x00FF00u);
}

} // namespace
} // namespace ombri::reader
