// Start-up options and the routines that keep the program state in step
// with the main window's fields.
#include "xkp_startup.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "mount.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The rewritten toolkit options live for the whole run: the toolkit keeps
// pointers into them. A second occurrence of an option overwrites the first.
constexpr size_t option_buffer_size = 2048;
char font_resource[option_buffer_size];
char geometry_resource[option_buffer_size];
char title_resource[option_buffer_size];

char xrm_option[] = "-xrm";
const char font_prefix[] = "*fontList: ";

bool is(const char *arg, const char *a, const char *b) {
    return strcmp(arg, a) == 0 || (b != nullptr && strcmp(arg, b) == 0);
}

void rewrite(char **argv, int i, char *buffer, const char *prefix) {
    // Values longer than the buffer are cut.
    snprintf(buffer, option_buffer_size, "%s%s", prefix, argv[i + 1]);
    argv[i] = xrm_option;
    argv[i + 1] = buffer;
}

} // namespace

void resourcify_argv(int argc, char **argv) {
    // The last argument is never taken as an option name: it has no value.
    for (int i = 1; i <= argc - 2; ++i) {
        if (is(argv[i], "-fn", "-font")) {
            rewrite(argv, i, font_resource, font_prefix);
        }
        if (is(argv[i], "-g", "-geometry")) {
            rewrite(argv, i, geometry_resource, "*geometry: ");
        }
        if (is(argv[i], "-T", "-title")) {
            rewrite(argv, i, title_resource, "*title: ");
        }
    }
}

void apply_font_option(XrmDatabase *db) {
    const size_t prefix = sizeof font_prefix - 1;
    if (db == nullptr || strncmp(font_resource, font_prefix, prefix) != 0) {
        return;
    }
    const char *font = font_resource + prefix;
    // The proportional and the monospaced rendition of the resource file,
    // named as it names them so that these entries replace its own.
    for (const char *tag : {"XSV*rt.", "XSV*mono."}) {
        XrmPutStringResource(db, (std::string(tag) + "fontType").c_str(), "FONT_IS_FONT");
        XrmPutStringResource(db, (std::string(tag) + "fontName").c_str(), font);
    }
}

void parse_own_options(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (is(arg, "-b", "-a")) {
            browsing_filesys = 1;
        } else if (is(arg, "-r", nullptr)) {
            browsing_filesys = 0;
            restore_from_archives = 0;
            set_client_type_argvs();
        } else if (is(arg, "-ra", nullptr)) {
            browsing_filesys = 0;
            restore_from_archives = 1;
            set_client_type_argvs();
        } else if (is(arg, "-rr", nullptr)) {
            browsing_filesys = 0;
            restore_from_archives = 0;
            browsing_raw_partitions = 1;
            set_client_type_argvs();
        } else if (is(arg, "-browselimit", nullptr)) {
            // With no value after it the option is taken as absent.
            if (i + 1 < argc) {
                browse_limit = atoi(argv[++i]);
                if (browse_limit < 1000) {
                    browse_limit = 1000;
                }
            }
        } else if (is(arg, "-nl", nullptr)) {
            if (i + 1 < argc) {
                ++i; // the value is consumed, whatever it is, and ignored
                really_get_real = 0;
            }
        }
    }
}

void read_debug_setting() {
    const char *value = getenv("XKP_DEBUG");
    if (value != nullptr) {
        debug_enabled = 1;
        // Longer values are cut to the buffer.
        T_strlcpy(debug_string, value, sizeof debug_string);
    }
}

void initialize_cwd() {
    if (current_working_directory[0] != '\0') {
        return;
    }
    char cwd[XKP_TEXT_SIZE];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return;
    }
    T_strlcpy(current_working_directory, pad_slash(cwd), sizeof current_working_directory);
    const char *mapped = actual_loop_back_path(current_working_directory);
    if (mapped != nullptr) {
        T_strlcpy(current_working_directory, mapped, sizeof current_working_directory);
    }
}

void save_main_screen(Widget w) {
    main_screen = w;
}

void Exit() {}
