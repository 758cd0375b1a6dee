// Shader programs made from fixed-function keys. One program per distinct
// shader key (the stages, lighting and fog of a draw; depth, blending and
// culling are GL state and stay out of it), generated as GLSL 3.30 text or,
// on OpenGL ES, as GLSL ES 3.00, compiled on first use and kept until the
// device goes. The generated code
// follows the fixed-function pipeline step by step: the stage cascade with
// every result saturated, then fog on the source colour before blending.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "base/log.h"
#include "gfx/gl/gl_internal.h"

namespace
{

struct KeyHash {
    size_t operator()(const GlShaderKey& key) const
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&key);
        uint64_t hash = 14695981039346656037ull;
        for (size_t i = 0; i < sizeof key; ++i)
            hash = (hash ^ bytes[i]) * 1099511628211ull;
        return size_t(hash);
    }
};

std::unordered_map<GlShaderKey, GlProgram*, KeyHash> s_programs;

const char* version_line()
{
    return gl_profile() == GlProfile::es ? "#version 300 es\nprecision highp float;\n"
                                         : "#version 330 core\n";
}

const char VERTEX_SHADER[] = R"(
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_coord0;
layout(location = 2) in vec2 a_coord1;
uniform mat4 u_wvp;
out vec2 v_coord0;
out vec2 v_coord1;
out float v_eye_depth;
void main()
{
    gl_Position = u_wvp * vec4(a_position, 1.0);
    v_coord0 = a_coord0;
    v_coord1 = a_coord1;
    // The correction to GL's conventions leaves w alone: it is the eye depth.
    v_eye_depth = gl_Position.w;
}
)";

// The value a stage argument names, with its modifiers, as a vec4.
std::string argument(int arg, int stage)
{
    std::string value;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        value = "diffuse";
        break;
    case D3DTA_CURRENT:
        value = "current";
        break;
    case D3DTA_TEXTURE:
        value = "texel" + std::to_string(stage);
        break;
    case D3DTA_TFACTOR:
        value = "vec4(1.0)"; // the texture factor keeps its default, opaque white
        break;
    default:
        value = "vec4(0.0)"; // no specular colour, no temporary register
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        value = "(vec4(1.0) - " + value + ")";
    if (arg & D3DTA_ALPHAREPLICATE)
        value = value + ".aaaa";
    return value;
}

// One stage operation on two operands of the same type; saturated.
std::string operation(int op, const std::string& a1, const std::string& a2)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return "clamp(" + a1 + ", 0.0, 1.0)";
    case D3DTOP_SELECTARG2:
        return "clamp(" + a2 + ", 0.0, 1.0)";
    case D3DTOP_MODULATE2X:
        return "clamp(2.0 * " + a1 + " * " + a2 + ", 0.0, 1.0)";
    case D3DTOP_MODULATE4X:
        return "clamp(4.0 * " + a1 + " * " + a2 + ", 0.0, 1.0)";
    case D3DTOP_ADD:
        return "clamp(" + a1 + " + " + a2 + ", 0.0, 1.0)";
    case D3DTOP_ADDSIGNED:
        return "clamp(" + a1 + " + " + a2 + " - 0.5, 0.0, 1.0)";
    default: // MODULATE, and anything the program never sets
        return "clamp(" + a1 + " * " + a2 + ", 0.0, 1.0)";
    }
}

std::string float_text(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(value));
    std::string result = text;
    if (result.find_first_of(".e") == std::string::npos)
        result += ".0";
    return result;
}

// Stage n's texel. Where the sampler cannot do it (OpenGL ES), coordinates
// outside the texture on a border-addressed axis read the border colour,
// and a level-of-detail bias goes to the lookup.
std::string texel_line(const GlShaderKey& shader, int n)
{
    const FfStage& stage = shader.key.stage[n];
    std::string i = std::to_string(n);
    std::string coord = std::string("v_coord") + (stage.coord_set ? "1" : "0");
    std::string bias = shader.lod_bias[n] != 0.0f ? ", " + float_text(shader.lod_bias[n]) : "";
    std::string line =
        "    vec4 texel" + i + " = texture(u_texture" + i + ", " + coord + bias + ");\n";
    std::string outside;
    if (shader.border_u[n])
        outside = coord + ".x < 0.0 || " + coord + ".x > 1.0";
    if (shader.border_v[n])
        outside += (outside.empty() ? "" : " || ") + coord + ".y < 0.0 || " + coord + ".y > 1.0";
    if (!outside.empty()) {
        D3DCOLOR c = shader.border[n];
        line += "    if (" + outside + ")\n        texel" + i + " = vec4(" +
                float_text(float((c >> 16) & 0xFF) / 255.0f) + ", " +
                float_text(float((c >> 8) & 0xFF) / 255.0f) + ", " +
                float_text(float(c & 0xFF) / 255.0f) + ", " + float_text(float(c >> 24) / 255.0f) +
                ");\n";
    }
    return line;
}

std::string fragment_source(const GlShaderKey& shader)
{
    const FfKey& key = shader.key;
    std::string s = std::string(version_line()) + "in vec2 v_coord0;\n"
                                                  "in vec2 v_coord1;\n"
                                                  "in float v_eye_depth;\n"
                                                  "uniform sampler2D u_texture0;\n"
                                                  "uniform sampler2D u_texture1;\n"
                                                  "uniform vec4 u_fog; // start, end, density\n"
                                                  "uniform vec3 u_fog_colour;\n"
                                                  "out vec4 o_colour;\n"
                                                  "void main()\n{\n";
    // Lighting without lights or a material leaves black with alpha 0;
    // unlit vertices without a colour are opaque white.
    s += key.lit ? "    vec4 diffuse = vec4(0.0);\n" : "    vec4 diffuse = vec4(1.0);\n";
    s += "    vec4 current = diffuse;\n";
    for (int i = 0; i < key.stages && i < FF_STAGES; ++i) {
        const FfStage& stage = key.stage[i];
        std::string n = std::to_string(i);
        if (stage.sampled)
            s += texel_line(shader, i);
        else
            s += "    vec4 texel" + n + " = vec4(0.0, 0.0, 0.0, 1.0);\n";
        s += "    vec4 next" + n + ";\n";
        s += "    next" + n + ".rgb = " +
             operation(stage.colour_op, argument(stage.colour_arg1, i) + ".rgb",
                       argument(stage.colour_arg2, i) + ".rgb") +
             ";\n";
        if (stage.alpha_op == D3DTOP_DISABLE)
            s += "    next" + n + ".a = current.a;\n";
        else
            s += "    next" + n + ".a = " +
                 operation(stage.alpha_op, argument(stage.alpha_arg1, i) + ".a",
                           argument(stage.alpha_arg2, i) + ".a") +
                 ";\n";
        s += "    current = next" + n + ";\n";
    }
    if (key.fog_mode != D3DFOG_NONE) {
        s += key.fog_on_eye_depth ? "    float depth = v_eye_depth;\n"
                                  : "    float depth = gl_FragCoord.z;\n";
        switch (key.fog_mode) {
        case D3DFOG_EXP:
            s += "    float f = clamp(exp(-depth * u_fog.z), 0.0, 1.0);\n";
            break;
        case D3DFOG_EXP2:
            s += "    float fd = depth * u_fog.z;\n"
                 "    float f = clamp(exp(-fd * fd), 0.0, 1.0);\n";
            break;
        default:
            s += "    float range = u_fog.y - u_fog.x;\n"
                 "    float f = range > 0.0 ? clamp((u_fog.y - depth) / range, 0.0, 1.0)\n"
                 "                          : (depth < u_fog.y ? 1.0 : 0.0);\n";
            break;
        }
        s += "    current.rgb = mix(u_fog_colour, current.rgb, f);\n";
    }
    s += "    o_colour = current;\n}\n";
    return s;
}

GLuint compile(GLenum type, const std::string& text)
{
    GLuint shader = glCreateShader(type);
    const char* c = text.c_str();
    glShaderSource(shader, 1, &c, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char info[512] = "";
        glGetShaderInfoLog(shader, sizeof info, nullptr, info);
        log_printf("gl: shader compile failed: %s", info);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GlProgram* build(const GlShaderKey& key)
{
    GLuint vs = compile(GL_VERTEX_SHADER, std::string(version_line()) + VERTEX_SHADER);
    GLuint fs = vs ? compile(GL_FRAGMENT_SHADER, fragment_source(key)) : 0;
    if (!vs || !fs) {
        if (vs)
            glDeleteShader(vs);
        return nullptr;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char info[512] = "";
        glGetProgramInfoLog(program, sizeof info, nullptr, info);
        log_printf("gl: shader link failed: %s", info);
        glDeleteProgram(program);
        return nullptr;
    }
    GlProgram* result = new GlProgram;
    result->name = program;
    result->wvp = glGetUniformLocation(program, "u_wvp");
    result->fog = glGetUniformLocation(program, "u_fog");
    result->fog_colour = glGetUniformLocation(program, "u_fog_colour");
    // The samplers read the units of their stages for the program's life.
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "u_texture0"), 0);
    glUniform1i(glGetUniformLocation(program, "u_texture1"), 1);
    glUseProgram(GLuint(current));
    return result;
}

} // namespace

bool GlShaderKey::operator==(const GlShaderKey& other) const
{
    return std::memcmp(this, &other, sizeof other) == 0;
}

GlShaderKey gl_shader_key(const FfDraw& draw)
{
    GlShaderKey shader;
    std::memset(&shader, 0, sizeof shader);
    const FfKey& key = draw.key;
    for (int i = 0; i < FF_STAGES; ++i)
        shader.key.stage[i] = key.stage[i];
    shader.key.stages = key.stages;
    shader.key.lit = key.lit;
    shader.key.fog_mode = key.fog_mode;
    shader.key.fog_on_eye_depth = key.fog_on_eye_depth;
    if (gl_profile() != GlProfile::es)
        return shader;
    for (int i = 0; i < key.stages && i < FF_STAGES; ++i) {
        if (!key.stage[i].sampled)
            continue;
        const FfSampler& sampler = draw.sampler[i];
        shader.border_u[i] = sampler.address_u == D3DTADDRESS_BORDER;
        shader.border_v[i] = sampler.address_v == D3DTADDRESS_BORDER;
        if (shader.border_u[i] || shader.border_v[i])
            shader.border[i] = sampler.border;
        shader.lod_bias[i] = sampler.lod_bias;
    }
    return shader;
}

GlProgram* gl_program_for(const GlShaderKey& shader_key)
{
    auto found = s_programs.find(shader_key);
    if (found != s_programs.end())
        return found->second;
    // A failure is kept too (as null), so a broken variant is reported once.
    GlProgram* program = build(shader_key);
    s_programs.emplace(shader_key, program);
    return program;
}

int gl_programs_check(char* why, int why_size)
{
    // The richest variant the scene draws with: two sampled stages and fog.
    FfStates states;
    ff_state_defaults(&states);
    states.stage[0][D3DTSS_COLOROP] = D3DTOP_ADD;
    states.stage[1][D3DTSS_COLOROP] = D3DTOP_MODULATE2X;
    states.render[D3DRS_FOGENABLE] = 1;
    states.render[D3DRS_FOGTABLEMODE] = D3DFOG_LINEAR;
    FfTexture textures[FF_STAGES] = {{true, true}, {true, true}};
    Matrix perspective;
    mat_translation(&perspective, 0.0f, 0.0f, 0.0f);
    perspective.m[11] = 1.0f;
    perspective.m[15] = 0.0f;
    FfDraw draw;
    ff_describe(states, textures, perspective, &draw);
    if (!gl_program_for(gl_shader_key(draw))) {
        std::snprintf(why, size_t(why_size), "a shader failed to compile (see debug.log)");
        return 0;
    }
    return 1;
}

void gl_programs_release()
{
    for (auto& entry : s_programs) {
        if (entry.second) {
            glDeleteProgram(entry.second->name);
            delete entry.second;
        }
    }
    s_programs.clear();
}

void gl_programs_forget()
{
    for (auto& entry : s_programs)
        delete entry.second;
    s_programs.clear();
}
