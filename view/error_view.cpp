#include "error_view.h"

#include "depth_buffer.h"
#include "diagnostic_log.h"
#include "error_marks.h"
#include "fragment.h"
#include "peeling_shader.h"
#include "render_buffers.h"
#include "view_camera.h"

#include <Eigen/Geometry>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QtDebug>
#include <algorithm>
#include <climits>
#include <utility>

namespace {

constexpr std::size_t PixelCount = std::size_t(DepthBuffer::Size) * DepthBuffer::Size;

// What one pick pass draws of one fragment: its persistent per-corner pick buffers and the runs
// of faces that take part (repeated faces are left out).
struct PickDrawList {
    FragmentBuffers* buffers = nullptr;
    std::vector<GLint> first;   // in vertices, three per face
    std::vector<GLsizei> count; // in vertices
};

std::vector<PickDrawList> pickDrawLists(QOpenGLFunctions_2_1& gl, const std::vector<Fragment*>& fragments) {
    FragmentBufferCache& cache = FragmentBufferCache::instance();
    std::vector<PickDrawList> lists;
    for (Fragment* f : fragments) {
        FragmentBuffers* b = cache.prepare(gl, *f);
        if (!b || b->faceCount == 0)
            continue;
        cache.preparePick(gl, *b, f->mesh());
        PickDrawList list;
        list.buffers = b;
        for (const auto& [firstFace, faces] : pickFaceRuns(f->mesh())) {
            list.first.push_back(GLint(3 * firstFace));
            list.count.push_back(GLsizei(3 * faces));
        }
        if (!list.first.empty())
            lists.push_back(std::move(list));
    }
    return lists;
}

// Positions in the buffers are relative to each fragment's origin: the model-view of a fragment is
// composed in double precision, so coordinates far from the world origin keep their digits.
void drawPickPass(QOpenGLFunctions_2_1& gl, const Eigen::Matrix4d& view, const std::vector<PickDrawList>& lists) {
    gl.glMatrixMode(GL_MODELVIEW);
    for (const PickDrawList& l : lists) {
        const Eigen::Matrix4d modelView = view * Eigen::Affine3d(Eigen::Translation3d(l.buffers->origin)).matrix();
        gl.glLoadMatrixd(modelView.data());
        gl.glBindBuffer(GL_ARRAY_BUFFER, l.buffers->pickPositions);
        gl.glVertexPointer(3, GL_FLOAT, 0, nullptr);
        gl.glBindBuffer(GL_ARRAY_BUFFER, l.buffers->pickColors);
        gl.glColorPointer(4, GL_UNSIGNED_BYTE, 0, nullptr);
        gl.glMultiDrawArrays(GL_TRIANGLES, l.first.data(), l.count.data(), GLsizei(l.first.size()));
    }
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// Saves the caller's GL state on construction and puts it back on destruction, then sets the
// state of the pick passes: no lighting, blending, dithering, fog, texturing, culling or tests but
// the depth test, flat colours, white clear colour.
class PickPassState {
public:
    explicit PickPassState(GlFunctions f) : gl(*f.fixed), extra(*f.extra) {
        gl.glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
        gl.glActiveTexture(GL_TEXTURE0);
        gl.glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture0);
        gl.glPushAttrib(GL_ALL_ATTRIB_BITS);
        gl.glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        gl.glMatrixMode(GL_PROJECTION);
        gl.glPushMatrix();
        gl.glMatrixMode(GL_MODELVIEW);
        gl.glPushMatrix();

        for (GLenum cap : {GL_LIGHTING, GL_LIGHT0, GL_BLEND, GL_DITHER, GL_FOG, GL_TEXTURE_2D, GL_CULL_FACE,
                           GL_ALPHA_TEST, GL_STENCIL_TEST, GL_SCISSOR_TEST, GL_POLYGON_OFFSET_FILL})
            gl.glDisable(cap);
        gl.glEnable(GL_DEPTH_TEST);
        gl.glDepthFunc(GL_LESS);
        gl.glDepthMask(GL_TRUE);
        gl.glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl.glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        gl.glShadeModel(GL_FLAT);
        gl.glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        gl.glClearDepth(1.0);
        gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        gl.glEnableClientState(GL_VERTEX_ARRAY);
        gl.glEnableClientState(GL_COLOR_ARRAY);
        for (GLenum array : {GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY, GL_SECONDARY_COLOR_ARRAY, GL_FOG_COORD_ARRAY,
                             GL_INDEX_ARRAY, GL_EDGE_FLAG_ARRAY})
            gl.glDisableClientState(array);
    }
    ~PickPassState() {
        gl.glUseProgram(GLuint(program));
        extra.glBindFramebuffer(GL_FRAMEBUFFER, GLuint(framebuffer));
        gl.glMatrixMode(GL_PROJECTION);
        gl.glPopMatrix();
        gl.glMatrixMode(GL_MODELVIEW);
        gl.glPopMatrix();
        gl.glPopClientAttrib();
        gl.glPopAttrib();
        gl.glActiveTexture(GL_TEXTURE0);
        gl.glBindTexture(GL_TEXTURE_2D, GLuint(texture0));
        gl.glActiveTexture(GLenum(activeTexture));
    }
    PickPassState(const PickPassState&) = delete;
    PickPassState& operator=(const PickPassState&) = delete;

private:
    QOpenGLFunctions_2_1& gl;
    QOpenGLExtraFunctions& extra;
    GLint program = 0, framebuffer = 0, activeTexture = GL_TEXTURE0, texture0 = 0;
};

// The error camera of direction u: an orthographic axis view of the box (centre c, diagonal D)
// from c + u D, deep enough for the whole box.
struct ErrorCamera {
    Eigen::Matrix4d projection, view;
};

ErrorCamera errorCamera(const Eigen::Vector3d& u, const Eigen::Vector3d& c, double d) {
    const Eigen::Vector3d eye = c + u * d;
    const double far = (eye - c).norm() + d;
    // Looking along the y axis, y cannot be up.
    const Eigen::Vector3d up = std::abs(u.y()) > 0.5 ? Eigen::Vector3d(0, 0, -1) : Eigen::Vector3d::UnitY();
    return {viewcamera::orthographic(-d / 2, d / 2, -d / 2, d / 2, far / 100, 2 * far),
            viewcamera::lookAt(eye, c, up)};
}

void printGlErrors(QOpenGLFunctions_2_1& gl, int pass) {
    for (int i = 0; i < 8; ++i) {
        const GLenum e = gl.glGetError();
        if (e == GL_NO_ERROR)
            return;
        qDebug("interpenetration pass %d: OpenGL error 0x%04x", pass, e);
    }
}

// The passes of one direction, until a pass draws nothing nearer than 1 - tolerance or the bound.
struct DirectionPasses {
    GlFunctions f;
    DepthBuffer* a;
    DepthBuffer* b;
    PeelingShader& shader;
    PickClassifier& classifier;
    const std::vector<PickDrawList>& lists;
    float tolerance;
    std::vector<Color4b>& colours;
    std::vector<float>& depths;

    DirectionReport run(const ErrorCamera& camera, double& readBackSeconds) {
        QOpenGLFunctions_2_1& gl = *f.fixed;
        DirectionReport report;
        QElapsedTimer timer, readBack;
        timer.start();
        classifier.startDirection(PixelCount);
        gl.glMatrixMode(GL_PROJECTION);
        gl.glLoadMatrixd(camera.projection.data());
        for (bool done = false; !done;) {
            if (report.passes == MaxPassesPerDirection) {
                report.stoppedByBound = true;
                logMessage("Depth peeling stopped after %d passes in one direction: some layers were not "
                           "peeled (does the shader discard the previous layer?)",
                           MaxPassesPerDirection);
                break;
            }
            if (report.passes == 0) {
                gl.glUseProgram(0);
            } else {
                b->bindDepthTexture();
                if (!shader.use(tolerance, 1.0f / float(b->bufferWidth()), 1.0f / float(b->bufferHeight())))
                    break;
            }
            printGlErrors(gl, report.passes);
            a->useAsDest();
            gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            drawPickPass(gl, camera.view, lists);
            readBack.start();
            gl.glReadPixels(0, 0, a->bufferWidth(), a->bufferHeight(), GL_RGBA, GL_UNSIGNED_BYTE, colours.data());
            gl.glReadPixels(0, 0, a->bufferWidth(), a->bufferHeight(), GL_DEPTH_COMPONENT, GL_FLOAT, depths.data());
            readBackSeconds += double(readBack.nsecsElapsed()) / 1e9;
            done = classifier.classifyPass(colours.data(), depths.data(), tolerance);
            std::swap(a, b); // b holds the layer just drawn, which the next pass peels against
            ++report.passes;
        }
        report.seconds = double(timer.nsecsElapsed()) / 1e9;
        return report;
    }
};

QString translated(const char* text) {
    return QCoreApplication::translate("ErrorView", text);
}

} // namespace

int ErrorReport::totalPasses() const {
    int n = 0;
    for (const DirectionReport& d : directions)
        n += d.passes;
    return n;
}

std::size_t ErrorReport::totalMarkedFaces() const {
    std::size_t n = 0;
    for (const FragmentMarks& f : fragments)
        n += f.markedFaces;
    return n;
}

ErrorReport computeErrors(FragGroup& group, float tolerance) {
    ErrorReport report;
    QElapsedTimer timer;
    timer.start();
    const GlFunctions f = GlFunctions::current();
    if (!f.valid()) {
        report.refusal = translated("Interpenetration not computed: no OpenGL 2.1 context is current.");
        logMessage("Interpenetration not computed: no OpenGL 2.1 context is current");
        return report;
    }
    std::vector<Fragment*> fragments;
    group.collectFragments(fragments);
    PickClassifier classifier(fragments);
    if (!classifier.codesValid()) {
        report.refusal = translated("Interpenetration not computed: the faces' pick codes overlap or exceed "
                                    "the 24-bit range.");
        logMessage("Interpenetration not computed: pick codes overlap or exceed 24 bits");
        return report;
    }
    const Box3d box = group.getMeshBBox();
    const double d = box.isNull() ? 0.0 : (box.max - box.min).norm();

    {
        PickPassState state(f);
        DepthBuffer first(f), second(f);
        if (first.init() && second.init()) {
            PeelingShader shader(f);
            std::vector<Color4b> colours(PixelCount);
            std::vector<float> depths(PixelCount);
            const std::vector<PickDrawList> lists = pickDrawLists(*f.fixed, fragments);
            DirectionPasses passes{f, &first, &second, shader, classifier, lists, tolerance, colours, depths};
            const Eigen::Vector3d axes[3] = {Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(),
                                             Eigen::Vector3d::UnitZ()};
            if (d > 0.0 && std::isfinite(d) && !lists.empty())
                for (int i = 0; i < 3; ++i)
                    report.directions[i] = passes.run(errorCamera(axes[i], box.center(), d), report.readBackSeconds);
            shader.release();
            report.computed = true;
        }
        first.release();
        second.release();
    }
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        const FragMesh& m = fragments[i]->mesh();
        report.fragments.push_back({fragments[i], m.faceCount(), markedFaceCount(m), classifier.marksChanged(i)});
    }
    report.totalSeconds = double(timer.nsecsElapsed()) / 1e9;
    return report;
}

namespace {
// Makes a context current for its life; the context current before is current again afterwards.
class CurrentContextScope {
public:
    CurrentContextScope(QOpenGLContext& ctx, QOffscreenSurface& surface)
        : own(ctx), previous(QOpenGLContext::currentContext()),
          previousSurface(previous ? previous->surface() : nullptr) {
        made = own.makeCurrent(&surface);
    }
    ~CurrentContextScope() {
        if (previous && previous != &own)
            previous->makeCurrent(previousSurface);
        else if (!previous)
            own.doneCurrent();
    }
    bool isCurrent() const { return made; }

private:
    QOpenGLContext& own;
    QOpenGLContext* previous;
    QSurface* previousSurface;
    bool made = false;
};

// The busy cursor while the marks are computed, where there is a window system.
class BusyCursor {
public:
    BusyCursor() : shown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (shown)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyCursor() {
        if (shown)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool shown;
};
} // namespace

ErrorView::ErrorView() = default;

ErrorView::~ErrorView() = default;

bool ErrorView::ensureContext() {
    if (tried)
        return context != nullptr;
    tried = true;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        problem = translated("The interpenetration view needs a window system (no QGuiApplication).");
        return false;
    }
    QOpenGLContext* share = QOpenGLContext::globalShareContext();
    QSurfaceFormat format = share ? share->format() : QSurfaceFormat::defaultFormat();
    if (!share) {
        format.setVersion(2, 1);
        format.setProfile(QSurfaceFormat::CompatibilityProfile);
    }
    auto ctx = std::make_unique<QOpenGLContext>();
    ctx->setFormat(format);
    ctx->setShareContext(share);
    auto off = std::make_unique<QOffscreenSurface>();
    if (!ctx->create()) {
        problem = translated("No OpenGL context can be made for the interpenetration view.");
        return false;
    }
    off->setFormat(ctx->format());
    off->create();
    if (!off->isValid()) {
        problem = translated("No off-screen surface can be made for the interpenetration view.");
        return false;
    }
    {
        CurrentContextScope scope(*ctx, *off);
        if (!scope.isCurrent() || !GlFunctions::current().valid()) {
            problem = translated("The OpenGL context cannot draw fixed-function OpenGL 2.1 (a core profile?): "
                                 "no interpenetration view.");
            return false;
        }
    }
    context = std::move(ctx);
    surface = std::move(off);
    return true;
}

ErrorReport ErrorView::update(BaseGraph* graph, const std::vector<int>& objectIds, float tolerance,
                              Smoothing smoothing) {
    QElapsedTimer timer;
    timer.start();
    ErrorReport report;
    const std::size_t faces = totalFaceCount(fragmentsOf(graph, objectIds));
    if (faces > MaxPickFaces) {
        report.refusal = translated("Interpenetration not computed: the fragments hold %1 faces, more than "
                                    "the %2 that the pick codes can name.")
                             .arg(faces)
                             .arg(MaxPickFaces);
        logMessage("Interpenetration not computed: %d faces, more than the pick codes can name",
                   int(std::min<std::size_t>(faces, INT_MAX)));
        return report;
    }
    if (!ensureContext()) {
        report.refusal = problem;
        logMessage(problem.toLocal8Bit().constData());
        return report;
    }
    BusyCursor busy;
    {
        CurrentContextScope scope(*context, *surface);
        if (!scope.isCurrent()) {
            report.refusal = translated("The interpenetration view's OpenGL context cannot be made current.");
            logMessage("The interpenetration view's OpenGL context cannot be made current");
            return report;
        }
        const std::unique_ptr<FragGroup> group = makeFragmentGroup(graph, objectIds);
        report = computeErrors(*group, tolerance);
    }
    for (FragmentMarks& m : report.fragments) {
        FragMesh& mesh = m.fragment->mesh();
        if (m.marksChanged && smoothing == Smoothing::On)
            smoothMarks(mesh);
        m.markedFaces = markedFaceCount(mesh);
        if (m.markedFaces > 0)
            mesh.changes |= FragMesh::Marks;
    }
    report.totalSeconds = double(timer.nsecsElapsed()) / 1e9;
    return report;
}
