#include "error_view.h"

#include "busy_cursor.h"
#include "current_context.h"
#include "depth_buffer.h"
#include "diagnostic_log.h"
#include "error_marks.h"
#include "fragment.h"
#include "peeling_shader.h"
#include "pick_pass_geometry.h"
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
        for (GLenum store : {GL_PACK_ALIGNMENT, GL_UNPACK_ALIGNMENT})
            gl.glPixelStorei(store, 4);
        for (GLenum store : {GL_PACK_ROW_LENGTH, GL_UNPACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS,
                             GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS})
            gl.glPixelStorei(store, 0);
        gl.glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        gl.glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        gl.glFrontFace(GL_CCW);
        gl.glEnableClientState(GL_VERTEX_ARRAY);
        gl.glEnableClientState(GL_COLOR_ARRAY);
        for (GLenum array : {GL_NORMAL_ARRAY, GL_TEXTURE_COORD_ARRAY, GL_SECONDARY_COLOR_ARRAY,
                             GL_FOG_COORD_ARRAY, GL_INDEX_ARRAY, GL_EDGE_FLAG_ARRAY})
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

// One side of a pass: the nearest faces turned that way, peeled against the last layer.
struct SideImage {
    std::vector<Color4b> colours = std::vector<Color4b>(PixelCount);
    std::vector<float> depths = std::vector<float>(PixelCount);
    PassImage image() const { return {colours.data(), depths.data()}; }
};

// The passes of one direction, until neither side draws anything nearer than 1 - tolerance, or
// the bound. Each pass draws the front faces into buffer front and the back faces into buffer
// back (the other side culled), both peeled against the last layer held in buffer last.
struct DirectionPasses {
    DirectionPasses(GlFunctions functions, DepthBuffer& frontBuffer, DepthBuffer& backBuffer,
                    DepthBuffer& lastBuffer, PeelingShader& peeling, PickClassifier& pick,
                    PickPassGeometry& drawn, float t)
        : f(functions), front(frontBuffer), back(backBuffer), last(lastBuffer), shader(peeling),
          classifier(pick), geometry(drawn), tolerance(t) {}

    GlFunctions f;
    DepthBuffer& front;
    DepthBuffer& back;
    DepthBuffer& last;
    PeelingShader& shader;
    PickClassifier& classifier;
    PickPassGeometry& geometry;
    float tolerance;
    SideImage frontImage, backImage;
    std::vector<float> lastDepth = std::vector<float>(PixelCount, 0.0f);
    std::vector<float> depthLimits;
    DepthMinPyramid lastDepthMinima;

    void drawSide(DepthBuffer& target, SideImage& out, const ErrorCamera& camera, Facing facing,
                  double& readBackSeconds) {
        QOpenGLFunctions_2_1& gl = *f.fixed;
        target.useAsDest();
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl.glCullFace(facing == Facing::Front ? GL_BACK : GL_FRONT);
        geometry.draw(gl, camera.view, facing);
        QElapsedTimer readBack;
        readBack.start();
        gl.glReadPixels(0, 0, target.bufferWidth(), target.bufferHeight(), GL_RGBA, GL_UNSIGNED_BYTE,
                        out.colours.data());
        gl.glReadPixels(0, 0, target.bufferWidth(), target.bufferHeight(), GL_DEPTH_COMPONENT, GL_FLOAT,
                        out.depths.data());
        readBackSeconds += double(readBack.nsecsElapsed()) / 1e9;
    }

    DirectionReport run(int axis, const ErrorCamera& camera, double& readBackSeconds) {
        QOpenGLFunctions_2_1& gl = *f.fixed;
        DirectionReport report;
        QElapsedTimer timer;
        timer.start();
        geometry.startDirection(axis, camera.projection * camera.view, DepthBuffer::Size, DepthBuffer::Size,
                                tolerance);
        geometry.regionDepthLimits(depthLimits);
        classifier.startDirection(PixelCount, depthLimits.data());
        gl.glMatrixMode(GL_PROJECTION);
        gl.glLoadMatrixd(camera.projection.data());
        gl.glEnable(GL_CULL_FACE);
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
                last.uploadDepth(lastDepth.data());
                last.bindDepthTexture();
                if (!shader.use(tolerance, 1.0f / float(last.bufferWidth()),
                                1.0f / float(last.bufferHeight())))
                    break;
            }
            printGlErrors(gl, report.passes);
            drawSide(front, frontImage, camera, Facing::Front, readBackSeconds);
            drawSide(back, backImage, camera, Facing::Back, readBackSeconds);
            done =
                classifier.classifyPass(frontImage.image(), backImage.image(), tolerance, lastDepth.data());
            ++report.passes;
            lastDepthMinima.build(lastDepth.data(), DepthBuffer::Size, DepthBuffer::Size);
            geometry.retirePeeled(lastDepthMinima, tolerance);
            // Nothing left to draw: the next pass would find every pixel empty.
            done = done || geometry.chunksInPlay() == 0;
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
        DepthBuffer front(f), back(f), last(f);
        if (front.init() && back.init() && last.init()) {
            PeelingShader shader(f);
            PickPassGeometry geometry(*f.fixed, fragments);
            DirectionPasses passes(f, front, back, last, shader, classifier, geometry, tolerance);
            const Eigen::Vector3d axes[3] = {Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(),
                                             Eigen::Vector3d::UnitZ()};
            if (d > 0.0 && std::isfinite(d) && !geometry.isEmpty())
                for (int i = 0; i < 3; ++i)
                    report.directions[std::size_t(i)] =
                        passes.run(i, errorCamera(axes[i], box.center(), d), report.readBackSeconds);
            shader.release();
            report.computed = true;
        } else {
            report.refusal = translated("Interpenetration not computed: the off-screen buffers could not be "
                                        "set up (see LogError.txt).");
        }
        for (DepthBuffer* buffer : {&front, &back, &last})
            buffer->release();
    }
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        const FragMesh& m = fragments[i]->mesh();
        report.fragments.push_back(
            {fragments[i], m.faceCount(), markedFaceCount(m), classifier.marksChanged(i)});
    }
    report.totalSeconds = double(timer.nsecsElapsed()) / 1e9;
    return report;
}

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
            problem =
                translated("The OpenGL context cannot draw fixed-function OpenGL 2.1 (a core profile?): "
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
