// Giving the window a file: dropped from the desktop or chosen in the open dialog.
#include "harness.h"

namespace {

class GiveFile : public ShellWindow {
  protected:
    // Values of check.txt are on show.
    void show_results()
    {
        give_file(data_path("check.txt"));
        command(IDC_CALC_ALL);
        take_events();
    }
    void expect_results_cleared()
    {
        for (int box : {IDC_EDIT_CRC32, IDC_EDIT_MD5, IDC_EDIT_SHA1})
            EXPECT_EQ(text(box), "") << box;
        EXPECT_EQ(g_crc32_done + g_md5_done + g_sha1_done, 0);
        EXPECT_EQ(g_status_id, (UINT)IDS_BLANK);
    }
};

TEST_F(GiveFile, DroppedFileGoesIntoTheBoxAndCanBeComputed)
{
    drop({data_path("rand_64.bin")});
    EXPECT_EQ(text(IDC_EDIT_FILE), data_path("rand_64.bin"));
    EXPECT_EQ(g_file_set, 1);
    EXPECT_EQ(take_events(), Events{status(IDS_BLANK)});
    command(IDC_CALC_SHA1);
    EXPECT_EQ(text(IDC_EDIT_SHA1), expected("rand_64.bin").sha1);
}

TEST_F(GiveFile, OfSeveralDroppedFilesOnlyTheFirstIsTaken)
{
    drop({data_path("rand_55.bin"), data_path("rand_56.bin"), data_path("rand_64.bin")});
    EXPECT_EQ(text(IDC_EDIT_FILE), data_path("rand_55.bin"));
}

TEST_F(GiveFile, DropWhileResultsShownClearsThemEvenForTheSameFile)
{
    show_results();
    g_status_id = 0; // a status other than blank, to see the drop blank it
    drop({data_path("check.txt")});
    expect_results_cleared();
    EXPECT_EQ(take_events(), Events{status(IDS_BLANK)});
}

TEST_F(GiveFile, ChosenFileFillsTheBoxAndClearsResults)
{
    show_results();
    dialog().name = data_path("rand_1000.bin");
    command(IDM_OPEN);
    EXPECT_EQ(dialog().seen, 1);
    EXPECT_EQ(text(IDC_EDIT_FILE), data_path("rand_1000.bin"));
    EXPECT_EQ(g_file_set, 1);
    expect_results_cleared();
    EXPECT_EQ(take_events(), Events{status(IDS_BLANK)});
}

TEST_F(GiveFile, ChosenFileCanBeComputedFromAFreshStart)
{
    dialog().name = data_path("check.txt");
    command(IDM_OPEN);
    command(IDC_CALC_CRC32);
    EXPECT_EQ(text(IDC_EDIT_CRC32), "CBF43926");
}

TEST_F(GiveFile, CancelledDialogChangesNothing)
{
    show_results();
    dialog().cancel = true;
    command(IDM_OPEN);
    EXPECT_EQ(dialog().seen, 1);
    EXPECT_EQ(text(IDC_EDIT_FILE), data_path("check.txt"));
    EXPECT_EQ(text(IDC_EDIT_CRC32), "CBF43926");
    EXPECT_EQ(g_crc32_done + g_md5_done + g_sha1_done, 3);
    EXPECT_EQ(g_status_id, (UINT)IDS_DONE_ALL);
    EXPECT_EQ(take_events(), Events{});
}

TEST_F(GiveFile, CancelFromAFreshStartLeavesNoFileGiven)
{
    dialog().cancel = true;
    command(IDM_OPEN);
    EXPECT_EQ(g_file_set, 0);
    command(IDC_CALC_MD5);
    EXPECT_EQ(take_events(), Events{box(IDS_BAD_FILE)});
}

TEST_F(GiveFile, NextDialogStartsWithTheLastChosenName)
{
    dialog().name = data_path("rand_32768.bin");
    command(IDM_OPEN);
    dialog().cancel = true;
    command(IDM_OPEN);
    EXPECT_EQ(dialog().seen, 2);
    EXPECT_EQ(dialog().initial_name, "rand_32768.bin"); // in its folder, which the dialog opens on
    EXPECT_STREQ(g_ofn_file, data_path("rand_32768.bin").c_str());
}

} // namespace
