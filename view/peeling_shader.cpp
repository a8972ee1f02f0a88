#include "peeling_shader.h"

#include "diagnostic_log.h"

#include <QFile>

QByteArray PeelingShader::builtInSource() {
    QFile resource(QStringLiteral(":/shaders/shaderDepthPeeling.fs"));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    return resource.readAll();
}

bool PeelingShader::buildFrom(const QByteArray& source) {
    QOpenGLFunctions_2_1& f = *gl.fixed;
    shader = f.glCreateShader(GL_FRAGMENT_SHADER);
    const char* text = source.constData();
    const GLint length = GLint(source.size());
    f.glShaderSource(shader, 1, &text, &length);
    f.glCompileShader(shader);
    GLint compiled = 0;
    f.glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    logMessage(compiled == GL_TRUE ? "Compiled ok..." : "Error Compiling shader!!");
    GLint linked = 0;
    if (compiled == GL_TRUE) {
        program = f.glCreateProgram();
        f.glAttachShader(program, shader);
        f.glLinkProgram(program);
        f.glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (linked != GL_TRUE)
            logMessage("Error Linking shader!!");
    }
    if (linked == GL_TRUE)
        return true;
    release();
    return false;
}

bool PeelingShader::build() {
    const std::optional<QByteArray> file = readTextFile(FileName);
    if (!file)
        logMessage("shaderDepthPeeling.fs is absent, unreadable or longer than 65536 bytes: using the "
                   "built-in shader");
    else if (buildFrom(*file)) {
        builtIn = false;
        return true;
    } else {
        logMessage("shaderDepthPeeling.fs cannot be used: using the built-in shader");
    }
    builtIn = true;
    return buildFrom(builtInSource());
}

bool PeelingShader::use(float tolerance, float oneOverWidth, float oneOverHeight) {
    if (!program && !build())
        return false;
    QOpenGLFunctions_2_1& f = *gl.fixed;
    f.glUseProgram(program);
    for (int i = 0; i < 16 && f.glGetError() != GL_NO_ERROR; ++i) {
        // errors of earlier calls are not this program's
    }
    f.glUniform1i(f.glGetUniformLocation(program, "textureLastDepth"), 0);
    static const GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    f.glUniformMatrix4fv(f.glGetUniformLocation(program, "matr"), 1, GL_TRUE, identity);
    f.glUniform1f(f.glGetUniformLocation(program, "tolerance"), tolerance);
    f.glUniform2f(f.glGetUniformLocation(program, "oneOverBufSize"), oneOverWidth, oneOverHeight);
    return true;
}

void PeelingShader::release() {
    QOpenGLFunctions_2_1& f = *gl.fixed;
    f.glUseProgram(0);
    if (program)
        f.glDeleteProgram(program);
    if (shader)
        f.glDeleteShader(shader);
    program = shader = 0;
}
