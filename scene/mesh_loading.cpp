#include "mesh_loading.h"

#include "frag_mesh.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
void readOne(MeshLoad& load) {
    auto mesh = std::make_shared<FragMesh>();
    bool errorOfAFile = false; // load.error tells what is wrong with a file that is there
    for (qsizetype i = 0; i < load.candidates.size(); ++i) {
        const QString& candidate = load.candidates[i];
        const bool isFile = QFileInfo(candidate).isFile();
        if (i > 0 && !isFile)
            continue;
        QString error;
        if (readPreparedMesh(candidate, *mesh, error)) {
            load.mesh = std::move(mesh);
            load.used = int(i);
            load.error.clear();
            return;
        }
        // A damaged file found in the project's folder says more than a path where there is none.
        if (load.error.isEmpty() || (isFile && !errorOfAFile)) {
            load.error = error;
            errorOfAFile = isFile;
        }
    }
}
} // namespace

bool readPreparedMesh(const QString& path, FragMesh& mesh, QString& error) {
    mesh.clear();
    try {
        if (!readMeshFile(path, mesh, error)) {
            mesh.clear();
            return false;
        }
        mesh.allocateAttributes();
        mesh.updateBoundingBox();
        mesh.updateNormals();
        mesh.updateFaceFaceAdjacency();
    } catch (const std::bad_alloc&) {
        mesh.clear();
        error = QStringLiteral("%1: not enough memory to read the mesh").arg(QFileInfo(path).fileName());
        return false;
    }
    mesh.fileBox = mesh.bbox;
    mesh.fileCentroid = mesh.vertexMean();
    return true;
}

void loadMeshes(std::vector<MeshLoad>& loads, const MeshLoadOptions& options) {
    const int total = int(loads.size());
    if (total == 0)
        return;
    unsigned threads =
        options.threads ? options.threads : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    threads = std::min<unsigned>(threads, unsigned(total));

    std::atomic<int> next{0}, done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    auto work = [&] {
        while (!stop) {
            const int i = next++;
            if (i >= total)
                return;
            readOne(loads[std::size_t(i)]);
            ++done;
            std::lock_guard lock(mutex);
            finished.notify_all();
        }
    };
    // The calling thread only watches, so that it can report progress (and repaint) meanwhile.
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < threads; ++k)
        workers.emplace_back(work);
    {
        std::unique_lock lock(mutex);
        while (done < total && !stop) {
            finished.wait_for(lock, std::chrono::milliseconds(50));
            if (options.progress) {
                lock.unlock();
                stop = !options.progress(done, total);
                lock.lock();
            }
        }
    }
    for (std::thread& t : workers)
        t.join();
    if (options.progress)
        options.progress(done, total);
}
