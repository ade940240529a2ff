#include "study/gui/studywindow.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "host/host.h"
#include "mesh/meshformats.h"
#include "mesh/trimesh.h"
#include "scene/scene.h"
#include "study/study.h"
#include "tasks/workerthread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <filesystem>

namespace vexa::gui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kTypeRole = Qt::UserRole + 1;
constexpr int kColourRole = Qt::UserRole + 2;

// The four data-tree icons beside the program, loaded once.
QIcon dataTreeIcon(int index)
{
    static const std::array<QIcon, 4> icons = [] {
        std::array<QIcon, 4> loaded;
        const QDir dir(QCoreApplication::applicationDirPath());
        for (int i = 0; i < 4; ++i)
            loaded[std::size_t(i)]
                = QIcon(dir.filePath(QStringLiteral("ressources/icon_tree%1.bmp").arg(i + 1)));
        return loaded;
    }();
    return icons[std::size_t(std::clamp(index, 0, 3))];
}

QIcon colourSwatch(const study::StudyColour& colour)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(QColor(colour.r, colour.g, colour.b));
    return QIcon(pixmap);
}

QTreeWidgetItem* makeItem(const study::StudyNode& node, bool dataTree)
{
    auto* item = new QTreeWidgetItem({ QString::fromStdString(node.label) });
    item->setData(0, kPathRole, QString::fromStdString(node.path));
    item->setToolTip(0, QString::fromStdString(node.path));
    if (node.folder) {
        item->setIcon(0,
            dataTree ? dataTreeIcon(node.icon)
                     : QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    } else if (dataTree) {
        item->setData(0, kTypeRole, node.type);
        item->setData(0, kColourRole, QColor(node.colour.r, node.colour.g, node.colour.b).rgb());
        item->setIcon(0, colourSwatch(node.colour));
    } else {
        item->setIcon(0, dataTreeIcon(1));
        item->setToolTip(0,
            QString::fromStdString(node.path)
                + QStringLiteral(" (%1 x %2 x %3)")
                      .arg(node.width)
                      .arg(node.height)
                      .arg(node.depth));
    }
    for (const study::StudyNode& child : node.children)
        item->addChild(makeItem(child, dataTree));
    return item;
}

QTreeWidget* makeTree(const QString& header, const study::StudyNode& root, bool dataTree)
{
    auto* tree = new QTreeWidget;
    tree->setHeaderLabel(header);
    tree->header()->setStretchLastSection(true);
    for (const study::StudyNode& child : root.children)
        tree->addTopLevelItem(makeItem(child, dataTree));
    if (dataTree)
        tree->expandToDepth(0);
    else
        tree->expandAll();
    return tree;
}

// Opening a volume takes seconds: as a task the windows stay live meanwhile.
void openThroughDataPath(const std::string& path)
{
    TaskCommand task;
    task.name = "Ouvrir une donnée...";
    task.builtin = [path] { dataOpenFileWithMessages(path); };
    taskStartCommand(std::move(task));
}

// The 3D view of the study's group, made when the study has none yet.
DataRecord* studyView(DataRecord& studyRecord)
{
    if (DataRecord* view = dataFindView3dOf(&studyRecord))
        return view;
    auto object = std::make_unique<scene::View3dObject>();
    if (const study::StudyObject* s = study::studyOf(&studyRecord);
        s && s->maxWidth > 0 && s->maxHeight > 0 && s->maxDepth > 0)
        object->scene->setReferenceBox(s->maxWidth, s->maxHeight, s->maxDepth);
    DataRecord* view
        = dataCreateKind(DATA_VIEW3D, std::move(object), kFreshId, kFreshId, studyRecord.linkGroup);
    if (view)
        dataSetName(view, studyRecord.name);
    return view;
}

// Reads a surface or region file into the study's 3D view, in its tree colour.
// False with a reason when the file is not a readable mesh.
bool addMeshToStudyView(
    DataRecord& studyRecord, const std::string& path, QColor colour, std::string& reason)
{
    mesh::MeshColour stored {};
    scene::TriMeshPtr mesh(mesh::readMeshFile(path.c_str(), &stored));
    if (!mesh) {
        reason = mesh::lastMeshError();
        return false;
    }
    triMeshFinish(mesh.get());
    DataRecord* view = studyView(studyRecord);
    auto* object = view ? dynamic_cast<scene::View3dObject*>(view->kindObject()) : nullptr;
    if (!object) {
        reason = path + " : " + kCannotOpenFile;
        return false;
    }
    scene::Scene& scene = *object->scene;
    const std::string name = std::filesystem::path(path).filename().string();
    const std::uint32_t id = scene.createObject(name, scene::OBJECT_MESH);
    scene::Material material;
    material.diffuse = { colour.redF(), colour.greenF(), colour.blueF(), 1 };
    material.ambient = { colour.redF() * 0.3, colour.greenF() * 0.3, colour.blueF() * 0.3, 1 };
    if (!id || !scene.setMesh(id, mesh.get()) || !scene.setMaterial(id, material)) {
        scene.removeObject(id);
        reason = path + " : maillage refusé";
        return false;
    }
    if (scene.objectCount() == 1)
        scene.resetCamera();
    dataRedraw(view);
    return true;
}

class StudyWindow : public QWidget {
public:
    explicit StudyWindow(DataRecord& record)
        : studyId_(record.imageId)
    {
        const study::StudyObject* study = study::studyOf(&record);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(2, 2, 2, 2);
        auto* splitter = new QSplitter(Qt::Horizontal);
        seismic_ = makeTree(QStringLiteral("SEISMIC"), study->seismicTree, false);
        data_ = makeTree(QStringLiteral("DATA"), study->dataTree, true);
        splitter->addWidget(seismic_);
        splitter->addWidget(data_);
        layout->addWidget(splitter, 1);
        if (study->maxWidth > 0) {
            auto* sizes = new QLabel(QStringLiteral("%1 x %2 x %3")
                                         .arg(study->maxWidth)
                                         .arg(study->maxHeight)
                                         .arg(study->maxDepth));
            sizes->setToolTip(QString::fromUtf8("Tailles maximales des volumes de l'étude"));
            layout->addWidget(sizes);
        }
        for (QTreeWidget* tree : { seismic_, data_ })
            connect(tree, &QTreeWidget::itemActivated, this,
                [this](QTreeWidgetItem* item, int) { openItem(item); });
        resize(sizeHint());
    }

    QSize sizeHint() const override { return { 600, 450 }; }

private:
    void openItem(QTreeWidgetItem* item)
    {
        if (!item || item->childCount() > 0 || item->data(0, kPathRole).toString().endsWith('/'))
            return;
        const std::string path = item->data(0, kPathRole).toString().toStdString();
        const int type = item->data(0, kTypeRole).toInt();
        if (type != study::TYPE_SURFACES_3D && type != study::TYPE_BLOBS) {
            openThroughDataPath(path);
            return;
        }
        // The record may have closed since the window was built: look it up again.
        DataRecord* record = dataFind(studyId_);
        if (!record)
            return;
        std::string reason;
        if (!addMeshToStudyView(
                *record, path, QColor::fromRgb(item->data(0, kColourRole).toUInt()), reason))
            hostMessageBox(kErrorCaption, reason.empty() ? path + " : " + kCannotOpenFile : reason);
    }

    std::uint32_t studyId_;
    QTreeWidget* seismic_ = nullptr;
    QTreeWidget* data_ = nullptr;
};

} // namespace

QWidget* makeStudyWindow(DataRecord& record)
{
    if (!study::studyOf(&record))
        return nullptr;
    return new StudyWindow(record);
}

} // namespace vexa::gui
