#pragma once
// One off-screen render target of the interpenetration view: a framebuffer object with an RGBA8
// colour texture and a depth texture (24-bit when the driver allows, else 16-bit), reached through
// Qt's function resolution. Works in the current context, which must stay current for the
// buffer's life; release() frees the names.

#include "gl_functions.h"

class DepthBuffer {
public:
    static constexpr int Size = 600; // width and height of the interpenetration images

    explicit DepthBuffer(GlFunctions gl, int width = Size, int height = Size);

    // Sets the buffer up once (later calls succeed at once). Every try and every failure is
    // logged to "LogError.txt". Leaves the framebuffer that was bound before bound again.
    bool init();
    // Binds the framebuffer and sets the viewport to the whole buffer (logged).
    void useAsDest();
    // Binds the depth texture on texture unit 0 (the unit left active).
    void bindDepthTexture();
    // Replaces the depth texture's contents (width x height window depths, bottom row first).
    void uploadDepth(const float* depths);
    // Frees the framebuffer and both textures; init() may be called again.
    void release();

    bool isReady() const { return initDone; }
    int bufferWidth() const { return width; }
    int bufferHeight() const { return height; }

private:
    bool tryDepthFormat(GLint depthFormat);
    // Logs the reason when the bound framebuffer is not complete.
    bool checkComplete();

    GlFunctions gl;
    GLuint colorTex = 0;
    GLuint depthTex = 0;
    GLuint fboId = 0;
    bool initDone = false;
    int width;
    int height;
};
