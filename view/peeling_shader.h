#pragma once
// The depth-peeling fragment shader of the interpenetration view. Its source is read from
// "shaderDepthPeeling.fs" in the working directory; when that file is absent, unreadable (or
// longer than 65,536 bytes), or does not compile or link, the built-in copy (the Qt resource
// ":/shaders/shaderDepthPeeling.fs") is used instead. Every step is logged to "LogError.txt".
//
// The shader's interface: uniforms "textureLastDepth" (sampler on unit 0, the previous layer's
// depth), "tolerance" (float, window depth units), "oneOverBufSize" (vec2, 1 / buffer size) and
// "matr" (mat4, identity, no meaning). A fragment survives only when its window depth exceeds the
// sampled depth by more than the tolerance; it keeps the incoming colour's rgb and gets alpha 1 on
// a front-facing triangle, 0 on a back-facing one.

#include "depth_buffer.h"

#include <QByteArray>

class PeelingShader {
public:
    static constexpr const char* FileName = "shaderDepthPeeling.fs";

    explicit PeelingShader(GlFunctions gl) : gl(gl) {}
    ~PeelingShader() = default;
    PeelingShader(const PeelingShader&) = delete;
    PeelingShader& operator=(const PeelingShader&) = delete;

    // Makes the program current (building it on first use) and sets the uniforms. False when not
    // even the built-in copy could be built; no program is current then.
    bool use(float tolerance, float oneOverWidth, float oneOverHeight);
    // No program current; the program and shader are deleted (the next use() reads the file again).
    void release();
    // Where the running program's source came from (after use()).
    bool usesBuiltInSource() const { return builtIn; }

    // The built-in source text.
    static QByteArray builtInSource();

private:
    bool build();
    // Compiles and links source into program/shader; false (names freed) on failure.
    bool buildFrom(const QByteArray& source);

    GlFunctions gl;
    GLuint program = 0;
    GLuint shader = 0;
    bool builtIn = false;
};
