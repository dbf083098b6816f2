// mirl-assetgen OUTDIR [FONTDIR]: regenerates graphics/ and scene/font_data.cpp
// under OUTDIR. Same input, same bytes: nothing here depends on time or chance.
#include <cstdio>
#include <sys/stat.h>
#include "raylib.h"
#include "assetgen.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: mirl-assetgen OUTDIR [FONTDIR]\n");
        return 2;
    }
    SetTraceLogLevel(LOG_WARNING);
    std::string out = argv[1];
    std::string fontDir = argc > 2 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
    mkdir(out.c_str(), 0755);
    mkdir((out + "/graphics").c_str(), 0755);
    mkdir((out + "/scene").c_str(), 0755);
    bool ok = writeImages(out + "/graphics", fontDir);
    ok = writeModels(out + "/graphics") && ok;
    ok = writeShader(out + "/graphics") && ok;
    ok = writeFontData(out + "/scene/font_data.cpp", fontDir) && ok;
    if (!ok) std::fprintf(stderr, "mirl-assetgen: some files could not be made\n");
    return ok ? 0 : 1;
}

// The outline pass: a Sobel filter on the brightness of the drawn picture.
// It is drawn over the plain copy, so it is transparent where the picture is
// flat and dark where the brightness (or the coverage) changes sharply.
static const char *outlineShaderSource =
    "#version 330\n"
    "// Dark outlines along the edges of what was drawn; clear elsewhere.\n"
    "in vec2 fragTexCoord;\n"
    "in vec4 fragColor;\n"
    "uniform sampler2D texture0;\n"
    "uniform vec4 colDiffuse;\n"
    "out vec4 finalColor;\n"
    "\n"
    "float lum(vec2 uv)\n"
    "{\n"
    "    vec4 c = texture(texture0, uv);\n"
    "    // Coverage counts too, so a shape on a clear target gets its rim.\n"
    "    return dot(c.rgb * c.a, vec3(0.299, 0.587, 0.114)) + (1.0 - c.a) * 0.5;\n"
    "}\n"
    "\n"
    "void main()\n"
    "{\n"
    "    vec2 px = 1.0 / vec2(textureSize(texture0, 0));\n"
    "    vec2 uv = fragTexCoord;\n"
    "    float tl = lum(uv + px * vec2(-1.0, -1.0));\n"
    "    float t  = lum(uv + px * vec2( 0.0, -1.0));\n"
    "    float tr = lum(uv + px * vec2( 1.0, -1.0));\n"
    "    float l  = lum(uv + px * vec2(-1.0,  0.0));\n"
    "    float r  = lum(uv + px * vec2( 1.0,  0.0));\n"
    "    float bl = lum(uv + px * vec2(-1.0,  1.0));\n"
    "    float b  = lum(uv + px * vec2( 0.0,  1.0));\n"
    "    float br = lum(uv + px * vec2( 1.0,  1.0));\n"
    "    float gx = (tr + 2.0 * r + br) - (tl + 2.0 * l + bl);\n"
    "    float gy = (bl + 2.0 * b + br) - (tl + 2.0 * t + tr);\n"
    "    float edge = smoothstep(0.24, 0.6, sqrt(gx * gx + gy * gy));\n"
    "    finalColor = vec4(0.05, 0.06, 0.05, edge * 0.85) * colDiffuse * vec4(1.0, 1.0, 1.0, fragColor.a);\n"
    "}\n";

bool writeShader(const std::string &dir)
{
    std::string path = dir + "/sobel.fs";
    return SaveFileText(path.c_str(), outlineShaderSource);
}
