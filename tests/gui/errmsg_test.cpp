// Message boxes: keys, built-in texts, titles, types, several open at once,
// each closed by its own "Close".
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "xkp_errmsg.h"

#include <Xm/MessageB.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace {

using ErrmsgTest = GuiTest;

TEST_F(ErrmsgTest, EveryKindOfBoxShowsItsTextTitleAndType) {
    struct Case {
        const char *what;
        std::function<void()> raise;
        std::string text;
        const char *title;
        unsigned char type;
    } cases[] = {
        {"pop_errmsg", [] { pop_errmsg(XKP_MSG_NO_SERVER); },
         "Could not determine server in the master configuration file", "xkp_errmsg",
         XmDIALOG_ERROR},
        {"pop_errmsg keeps a percent sign", [] { pop_errmsg("CerXkp9999N", "100% full"); },
         "100% full", "xkp_errmsg", XmDIALOG_ERROR},
        {"pop_err_str", [] { pop_err_str(XKP_MSG_NOT_EXECUTABLE, "/x/kplist"); },
         "The following command cannot be executed.\n  Ask your system administrator to\n  "
         "verify the install and permits.\n\n/x/kplist\n",
         "xkp_errmsg", XmDIALOG_ERROR},
        {"pop_warn_int", [] { pop_warn_int(XKP_MSG_LARGE_RANGE, 5000); },
         "Because the images in the default date range include a large\nnumber of files (5000), "
         "searching for the specified pathname\nis delayed until you execute the Update Display "
         "command.",
         "xkp_warning", XmDIALOG_WARNING},
        {"pop_errcode",
         [] {
             errno = ENOENT;
             pop_errcode();
         },
         "A system call has failed with error number 2:\n\n" + std::string(strerror(ENOENT)),
         "xkp_errmsg", XmDIALOG_ERROR},
        {"filename_error",
         [] {
             errno = EACCES;
             filename_error("/tmp/xkpAAAA");
         },
         "The system does not permit creation of temporary file /tmp/xkpAAAA.\nThe error number "
         "is 13 and the error text is:\n" +
             std::string(strerror(EACCES)),
         "xkp_errmsg", XmDIALOG_ERROR},
        {"display_kp_error", [] { display_kp_error(12); }, "file open failed", "xkp_errmsg",
         XmDIALOG_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.raise();
        gui::drain();
        auto boxes = gui::message_boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].title, c.title);
        EXPECT_EQ(boxes[0].type, c.type);
        EXPECT_TRUE(XtIsManaged(boxes[0].box));
        gui::close_message_boxes();
        EXPECT_TRUE(gui::message_boxes().empty());
    }
}

TEST_F(ErrmsgTest, BoxesHaveOnlyACloseButtonStayOpenAndCloseOneByOne) {
    pop_errmsg(XKP_MSG_NO_FILES);
    pop_errmsg(XKP_MSG_NO_SELECTIONS);
    display_kp_error(71);
    gui::drain();
    auto boxes = gui::message_boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "You have not selected any files");
    EXPECT_EQ(boxes[1].text, "You have not made any selections");
    EXPECT_EQ(boxes[2].text, "none of the files in the file list exist");

    Widget box = boxes[1].box;
    Widget ok = XmMessageBoxGetChild(box, XmDIALOG_OK_BUTTON);
    EXPECT_TRUE(XtIsManaged(ok));
    EXPECT_EQ(gui::label_of(ok), "Close");
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(box, XmDIALOG_CANCEL_BUTTON)));
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(box, XmDIALOG_HELP_BUTTON)));
    auto *context = static_cast<_UxCxkp_errmsg *>(UxGetContext(ok));
    ASSERT_NE(context, nullptr) << "the box's buttons find its record";
    EXPECT_EQ(context->Uxxkp_errmsg, box);
    EXPECT_EQ(context->Uxxkp_errmsg_shell, boxes[1].shell);
    EXPECT_EQ(UxrGetProp<Position>(boxes[1].shell, XmNx), 80);
    EXPECT_EQ(UxrGetProp<Position>(boxes[1].shell, XmNy), 80);
    EXPECT_EQ(UxrGetProp<unsigned char>(box, XmNdialogStyle), XmDIALOG_MODELESS);

    gui::click(ok);
    auto left = gui::message_boxes();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].text, "You have not selected any files");
    EXPECT_EQ(left[1].text, "none of the files in the file list exist");
    // The window manager's close frees the box as Close does.
    gui::wm_close(left[1].shell);
    ASSERT_EQ(gui::message_boxes().size(), 1u);
    gui::close_message_boxes();
    EXPECT_TRUE(gui::message_boxes().empty());
}

TEST_F(ErrmsgTest, NoTopLevelMeansNoBoxAndNoCrash) {
    Widget saved = UxTopLevel;
    UxTopLevel = nullptr;
    EXPECT_EQ(create_xkp_errmsg(), nullptr);
    pop_errmsg(XKP_MSG_TEMPFILE);
    UxTopLevel = saved;
    EXPECT_TRUE(gui::message_boxes().empty());
}

} // namespace
