// The speeds in mm/s keep their decimal point on a French system, where the
// C library and the C++ streams would write "15,0".
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "capture_builder.h"

namespace vornlog::testing {
namespace {

// A decimal comma for the C++ streams, whatever the system has installed.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

bool setFrenchC()
{
    for (const char* name : {"fr_FR.UTF-8", "fr_FR.utf8", "fr_FR", "French_France.1252", "fr-FR"})
        if (std::setlocale(LC_ALL, name)) return true;
    return false;
}

#if !defined(_WIN32)
// Builds fr_FR.UTF-8 from the system's locale sources into `dir`, without
// installing anything: setlocale finds it through LOCPATH.
bool buildFrenchC(const std::filesystem::path& dir)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string target = (dir / "fr_FR.UTF-8").string();
    char* argv[] = {const_cast<char*>("localedef"), const_cast<char*>("-i"), const_cast<char*>("fr_FR"),
                    const_cast<char*>("-f"), const_cast<char*>("UTF-8"), const_cast<char*>(target.c_str()),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "localedef", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!std::filesystem::exists(dir / "fr_FR.UTF-8" / "LC_NUMERIC")) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    return setFrenchC();
}
#endif

class FrenchSystem : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        savedC_ = std::setlocale(LC_ALL, nullptr);
        frenchC_ = setFrenchC();
#if !defined(_WIN32)
        if (!frenchC_) {
            builtDir_ = std::filesystem::temp_directory_path() / ("vornlog-fr-" + std::to_string(getpid()));
            frenchC_ = buildFrenchC(builtDir_);
        }
#endif
        savedCxx_ = std::locale();
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    }

    static void TearDownTestSuite()
    {
        std::locale::global(savedCxx_);
        std::setlocale(LC_ALL, savedC_.c_str());
#if !defined(_WIN32)
        if (!builtDir_.empty()) {
            unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(builtDir_, ignored);
        }
#endif
    }

    static inline std::string savedC_;
    static inline std::locale savedCxx_;
    static inline bool frenchC_ = false;
    static inline std::filesystem::path builtDir_;
};

// S1 200 with V1M 3000, S2 3 with V2M 1000, the other axes not used.
const std::string kHighPartRead =
    "54 05 00 C8 00 03 00 00 00 00 00 00 00 B8 0B E8 03 00 00 00 00 00 00 64 00 D0 07 00 00 00 00 00 00";
const std::string kHighPartLines =
    " QMR5V :  " + kHighPartRead +
    "\n"
    "   => Inst 0x54=TABLE\n"
    "     CMD=0x05\t-> Read high part of table 0\n"
    "     S1=0x00C8\t-> 200 steps for 1mm\n"
    "     S2=0x0003\t-> 3 steps for 1mm\n"
    "     S3=0x0000\t-> 0 steps for 1mm\n"
    "     S4=0x0000\t-> 0 steps for 1mm\n"
    "     S5=0x0000\t-> 0 steps for 1mm\n"
    "     V1M=0x0BB8\t-> 3000 steps/s -> 15.0 mm/s without acceleration\n"
    "     V2M=0x03E8\t-> 1000 steps/s -> 333.3 mm/s without acceleration\n"
    "     V1MA=0x0064 -> 100 steps/s -> 0.5 mm/s with acceleration\n"
    "     V2MA=0x07D0 -> 2000 steps/s -> 666.7 mm/s with acceleration\n";

TEST_F(FrenchSystem, SpeedsKeepTheirDecimalPoint)
{
    std::ostringstream stream;
    stream.setf(std::ios::fixed);
    stream.precision(1);
    stream << 15.0;
    ASSERT_EQ(stream.str(), "15,0") << "the comma locale of the streams is not in force";
    if (frenchC_) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 15.0);
        ASSERT_STREQ(text, "15,0") << "the French C locale is not in force";
    } else {
        // Only the streams can be checked here.
        RecordProperty("c_locale", "no French locale on this system and none could be built");
    }

    EXPECT_EQ(fromController(kHighPartRead), kHighPartLines);
}

} // namespace
} // namespace vornlog::testing
