// The whole program when OpenGL fails under it: storm_main runs headless in a
// child process whose driver is broken on purpose (EGL never opens a display,
// or the GL compiler compiles nothing), and must carry on with the software
// renderer, saying so in one line on stderr and in debug.log; `auto` says
// nothing on stderr when it merely finds no OpenGL. The breakage is done by
// replacing libepoxy's entry points in the child, below everything the
// program owns.
#include <dlfcn.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/shell.h"
#include "test_util.h"

extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0"; // Mesa keeps a few allocations to the end
}

namespace
{

// The whole context, the shader compiler, or desktop OpenGL alone (a driver
// that offers OpenGL ES only, as on many boards).
enum class Broken { CONTEXT, SHADERS, DESKTOP };

EGLBoolean refuse_initialize(EGLDisplay, EGLint*, EGLint*)
{
    return EGL_FALSE;
}

PFNEGLCREATECONTEXTPROC s_create_context = nullptr;

EGLContext create_es_only(EGLDisplay display, EGLConfig config, EGLContext share,
                          const EGLint* attributes)
{
    if (eglQueryAPI() == EGL_OPENGL_API)
        return EGL_NO_CONTEXT;
    return s_create_context(display, config, share, attributes);
}

void compile_nothing(GLuint) {}

struct ProgramRun {
    int status = -1; // the exit code, or -1 when the child did not exit
    std::string out, err, log;
};

std::string read_all(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program with `args` after `broken` in a scratch directory of its
// own; the child never returns into the test.
ProgramRun run_storm(Broken broken, std::vector<std::string> args)
{
    ScratchDir scratch;
    args.insert(args.begin(), {"storm", "--headless", "--data", STORM_BUILD_DIR});
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        dup2(open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (broken == Broken::CONTEXT) {
            epoxy_eglInitialize = refuse_initialize;
        } else if (broken == Broken::SHADERS) {
            epoxy_glCompileShader = compile_nothing;
        } else {
            // libepoxy's own pointer starts as a resolver that would call
            // the replacement back: take EGL's function from the library.
            s_create_context = reinterpret_cast<PFNEGLCREATECONTEXTPROC>(
                dlsym(dlopen("libEGL.so.1", RTLD_LAZY), "eglCreateContext"));
            epoxy_eglCreateContext = create_es_only;
        }
        std::vector<const char*> argv;
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        int code = storm_main(int(argv.size()), argv.data());
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(code);
    }
    ProgramRun run;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = read_all("out.txt");
    run.err = read_all("err.txt");
    run.log = read_all("debug.log");
    return run;
}

const char* const FALLBACK = "OpenGL cannot be used \\(([^\n]+)\\); using the software renderer\n";

// One line on stderr and the same in the log, right before the device
// set-up; the run itself goes on on the software backend. Returns the reason.
std::string expect_reported_fallback(const ProgramRun& run)
{
    EXPECT_EQ(run.status, 0) << run.err;
    std::smatch reason;
    EXPECT_TRUE(std::regex_match(run.err, reason, std::regex(std::string("storm: ") + FALLBACK)))
        << run.err;
    EXPECT_TRUE(std::regex_search(run.log, std::regex(std::string(" - renderer: ") + FALLBACK +
                                                      " - trying 640 x 480 x 32\n")))
        << run.log;
    EXPECT_NE(run.out.find("bench: renderer soft, "), std::string::npos) << run.out;
    return reason.size() > 1 ? reason[1].str() : "";
}

TEST(GlFallback, AContextThatCannotBeMadeSendsTheProgramToSoftware)
{
    ProgramRun run = run_storm(Broken::CONTEXT, {"--renderer", "gl", "--frames", "3", "--bench"});
    EXPECT_EQ(expect_reported_fallback(run).rfind("no OpenGL 3.3 context", 0), 0u);
}

TEST(GlFallback, ShadersThatDoNotCompileSendTheProgramToSoftware)
{
    ProgramRun run = run_storm(Broken::SHADERS, {"--renderer", "gl", "--frames", "3", "--bench"});
    if (run.err.find("no OpenGL 3.3 context") != std::string::npos)
        GTEST_SKIP() << "no OpenGL 3.3 context: " << run.err;
    EXPECT_EQ(expect_reported_fallback(run), "a shader failed to compile (see debug.log)");
    EXPECT_NE(run.log.find("gl: shader compile failed"), std::string::npos) << run.log;
}

TEST(GlFallback, AutoWithoutOpenGLRunsSoftwareQuietly)
{
    ProgramRun run = run_storm(Broken::CONTEXT, {"--frames", "3", "--bench"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("bench: renderer soft, "), std::string::npos) << run.out;
    EXPECT_NE(run.log.find(" - renderer: soft (no OpenGL 3.3 context"), std::string::npos)
        << run.log;
}

// Without desktop OpenGL, `gles` draws on OpenGL ES, and `auto` tries it
// after desktop OpenGL (then declines llvmpipe, a software renderer).
TEST(GlFallback, WithoutDesktopOpenGLTheEsProfileIsTaken)
{
    ProgramRun gles =
        run_storm(Broken::DESKTOP, {"--renderer", "gles", "--frames", "3", "--bench"});
    if (gles.log.find("no OpenGL ES 3.0 context") != std::string::npos)
        GTEST_SKIP() << "no OpenGL ES 3.0 context: " << gles.log;
    EXPECT_EQ(gles.status, 0) << gles.err;
    EXPECT_NE(gles.out.find("bench: renderer gles, "), std::string::npos) << gles.out;

    ProgramRun automatic = run_storm(Broken::DESKTOP, {"--frames", "3", "--bench"});
    EXPECT_EQ(automatic.status, 0);
    EXPECT_TRUE(std::regex_search(
        automatic.log, std::regex(" - renderer: soft \\(no OpenGL 3.3 context[^\n]*; the OpenGL "
                                  "renderer \\([^\n]*\\) is a software one\\)\n")))
        << automatic.log;
}

} // namespace
