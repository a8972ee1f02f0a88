#include "depth_buffer.h"

#include "diagnostic_log.h"

#include <QOpenGLExtraFunctions>

DepthBuffer::DepthBuffer(GlFunctions functions, int w, int h) : gl(functions), width(w), height(h) {}

bool DepthBuffer::init() {
    if (initDone)
        return true;
    if (!gl.extra->hasOpenGLFeature(QOpenGLFunctions::Framebuffers)) {
        logMessage("FrameBufferObject Extension not found! [hint: Update drivers] No shadows :(...\n");
        return false;
    }
    if (gl.extra->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_UNSUPPORTED) {
        logMessage("FrameBufferObject not supported by your card! No shadows :(...\n");
        return false;
    }
    GLint previous = 0;
    gl.fixed->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    gl.extra->glGenFramebuffers(1, &fboId);
    gl.fixed->glGenTextures(1, &colorTex);
    gl.fixed->glGenTextures(1, &depthTex);
    gl.extra->glBindFramebuffer(GL_FRAMEBUFFER, fboId);

    const GLint formats[] = {GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT16};
    for (int attempt = 0; attempt < 2 && !initDone; ++attempt) {
        if (tryDepthFormat(formats[attempt])) {
            logMessage("Init try no. %d successful!", attempt);
            initDone = true;
        } else {
            logMessage("Init Try no %d Failed", attempt);
        }
    }
    gl.extra->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    if (!initDone)
        release();
    return initDone;
}

bool DepthBuffer::tryDepthFormat(GLint depthFormat) {
    // Texture unit 0 and its 2D binding are the caller's: put them back afterwards.
    GLint boundTexture = 0;
    gl.fixed->glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    auto setUp = [this](GLuint texture) {
        gl.fixed->glBindTexture(GL_TEXTURE_2D, texture);
        gl.fixed->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        gl.fixed->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        gl.fixed->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.fixed->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    };
    setUp(colorTex);
    gl.fixed->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    setUp(depthTex);
    gl.fixed->glTexImage2D(GL_TEXTURE_2D, 0, depthFormat, width, height, 0, GL_DEPTH_COMPONENT, GL_FLOAT,
                           nullptr);
    gl.fixed->glTexParameteri(GL_TEXTURE_2D, GL_DEPTH_TEXTURE_MODE, GL_LUMINANCE);
    gl.fixed->glBindTexture(GL_TEXTURE_2D, GLuint(boundTexture));
    gl.extra->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthTex, 0);
    gl.extra->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colorTex, 0);
    return checkComplete();
}

bool DepthBuffer::checkComplete() {
    switch (gl.extra->glCheckFramebufferStatus(GL_FRAMEBUFFER)) {
    case GL_FRAMEBUFFER_COMPLETE:
        return true;
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
        logMessage("Incompl: attachment !");
        break;
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
        logMessage("Incompl: missing attach  FB!");
        break;
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER:
        logMessage("Incompl: draw buffer!");
        break;
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER:
        logMessage("Incompl: read buffer!");
        break;
    case GL_FRAMEBUFFER_UNSUPPORTED:
        logMessage("Unsupported FB!");
        break;
    default:
        logMessage("Unknow FB error!");
        break;
    }
    return false;
}

void DepthBuffer::useAsDest() {
    if (!initDone) {
        logMessage("useAsDest: init not done!");
        return;
    }
    logMessage("useAsDest: frameID = %d!", int(fboId));
    gl.extra->glBindFramebuffer(GL_FRAMEBUFFER, fboId);
    gl.fixed->glViewport(0, 0, width, height);
}

void DepthBuffer::bindDepthTexture() {
    gl.fixed->glActiveTexture(GL_TEXTURE0);
    gl.fixed->glBindTexture(GL_TEXTURE_2D, depthTex);
    gl.fixed->glActiveTexture(GL_TEXTURE0);
}

void DepthBuffer::uploadDepth(const float* depths) {
    GLint boundTexture = 0;
    gl.fixed->glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    gl.fixed->glBindTexture(GL_TEXTURE_2D, depthTex);
    gl.fixed->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_DEPTH_COMPONENT, GL_FLOAT, depths);
    gl.fixed->glBindTexture(GL_TEXTURE_2D, GLuint(boundTexture));
}

void DepthBuffer::release() {
    if (fboId)
        gl.extra->glDeleteFramebuffers(1, &fboId);
    for (GLuint* texture : {&colorTex, &depthTex})
        if (*texture)
            gl.fixed->glDeleteTextures(1, texture);
    fboId = colorTex = depthTex = 0;
    initDone = false;
}
