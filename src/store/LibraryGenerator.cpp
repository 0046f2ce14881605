#include "store/LibraryGenerator.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <random>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/PersistentStore.h"
#include "store/Tag.h"

namespace ovalis {

namespace {

const QStringList tagWords = {
    QStringLiteral("Neuro"), QStringLiteral("Chest"), QStringLiteral("MSK"), QStringLiteral("Abdomen"),
    QStringLiteral("Paediatric"), QStringLiteral("CT"), QStringLiteral("MRI"), QStringLiteral("Ultrasound"),
    QStringLiteral("Plain film"), QStringLiteral("Vascular"), QStringLiteral("Oncology"), QStringLiteral("Trauma"),
    QStringLiteral("Head and neck"), QStringLiteral("Breast"), QStringLiteral("Cardiac"), QStringLiteral("Spine"),
    QStringLiteral("Interventional"), QStringLiteral("Nuclear"), QStringLiteral("Emergency"), QStringLiteral("Teaching"),
    QStringLiteral("FRCR"), QStringLiteral("Classic"), QStringLiteral("Rare"), QStringLiteral("Follow-up"),
};

const QStringList findings = {
    QStringLiteral("meningioma"), QStringLiteral("glioblastoma"), QStringLiteral("pneumothorax"),
    QStringLiteral("appendicitis"), QStringLiteral("osteosarcoma"), QStringLiteral("sarcoidosis"),
    QStringLiteral("Ménétrier disease"), QStringLiteral("Sjögren syndrome"), QStringLiteral("aortic dissection"),
    QStringLiteral("pulmonary embolism"), QStringLiteral("renal cell carcinoma"), QStringLiteral("hepatic adenoma"),
    QStringLiteral("Crohn disease"), QStringLiteral("intussusception"), QStringLiteral("scaphoid fracture"),
    QStringLiteral("multiple sclerosis"), QStringLiteral("Perthes disease"), QStringLiteral("café au lait spots"),
    QStringLiteral("pleural effusion"), QStringLiteral("subdural haematoma"), QStringLiteral("thyroid nodule"),
};

const QStringList qualifiers = {
    QStringLiteral("left"), QStringLiteral("right"), QStringLiteral("bilateral"), QStringLiteral("acute"),
    QStringLiteral("chronic"), QStringLiteral("atypical"), QStringLiteral("classic"), QStringLiteral("incidental"),
    QStringLiteral("Smith"), QStringLiteral("smíth"),
};

const QStringList sentences = {
    QStringLiteral("Presented with a two week history of worsening symptoms."),
    QStringLiteral("Contrast enhanced study shows a well defined lesion with a dural tail."),
    QStringLiteral("No evidence of metastatic disease elsewhere."),
    QStringLiteral("Findings were confirmed at surgery and on histology."),
    QStringLiteral("Follow-up imaging at six months showed interval reduction in size."),
    QStringLiteral("Differential diagnosis includes infection and lymphoma."),
    QStringLiteral("Note the characteristic appearance on the sagittal images."),
    QStringLiteral("Referred by the emergency department after a fall."),
    QStringLiteral("Compare with the prior examination from the referring hospital."),
};

const QStringList links = {
    QStringLiteral("https://example.org/articles/%1"),
    QStringLiteral("https://doi.org/10.1148/rg.%1"),
    QStringLiteral("http://pubmed.example.net/%1"),
};

QString letterFor(int value)
{
    // 1..24 over the alphabet without I and O
    static const QString letters = QStringLiteral("ABCDEFGHJKLMNPQRSTUVWXYZ");
    return letters.mid(value - 1, 1);
}

void writeImage(const QString &path, quint64 seed, bool png)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(seed % 360), 60, 90));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawEllipse(QPoint(32, 24), 10 + int(seed % 12), 8 + int(seed % 9));
    painter.end();
    image.save(path, png ? "PNG" : "JPEG", 80);
}

} // namespace

LibraryGenerator::LibraryGenerator(CoreDataStack *stack)
    : m_stack(stack)
{
}

QString LibraryGenerator::validNHI(quint64 number)
{
    for (quint64 attempt = number;; attempt += 7919) {
        const int l1 = int(attempt % 24) + 1;
        const int l2 = int((attempt / 24) % 24) + 1;
        const int l3 = int((attempt / 576) % 24) + 1;
        const int digits = int((attempt / 13824) % 1000);
        const int d4 = digits / 100, d5 = (digits / 10) % 10, d6 = digits % 10;
        const int sum = 7 * l1 + 6 * l2 + 5 * l3 + 4 * d4 + 3 * d5 + 2 * d6;
        const int remainder = sum % 11;
        if (remainder == 0)
            continue;
        const int check = remainder == 1 ? 0 : 11 - remainder;
        return letterFor(l1) + letterFor(l2) + letterFor(l3) + QString::number(d4) + QString::number(d5)
               + QString::number(d6) + QString::number(check);
    }
}

bool LibraryGenerator::generate(const Options &options, QString *error,
                                const std::function<void(int, int)> &progress)
{
    std::mt19937_64 random(options.seed);
    auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
    PersistentStore *store = m_stack->persistentStore();

    // Tags first, in a context of their own.
    QVector<ObjectID> tagIds;
    {
        ManagedObjectContext context(ManagedObjectContext::ConcurrencyType::MainQueue, store);
        context.setStack(m_stack);
        context.setTransactionAuthor(QStringLiteral("ovalis-cli"));
        QSet<QString> existing;
        for (ManagedObject *object : context.arrayOfObjects(Tag::entityName()))
            existing.insert(static_cast<Tag *>(object)->label());
        QList<Tag *> tags;
        for (int i = 0; tags.size() < options.tags; ++i) {
            const QString word = tagWords[i % tagWords.size()];
            const QString label = i < tagWords.size() ? word : QStringLiteral("%1 %2").arg(word).arg(i / tagWords.size());
            if (existing.contains(label))
                continue;
            Tag *tag = context.insertNew<Tag>();
            tag->setLabel(label);
            // As the window stores it once the library has been open: with no
            // tag switched on, every tag has active cases.
            tag->setHasActiveCases(true);
            tags.append(tag);
        }
        if (!context.save(error))
            return false;
        for (Tag *tag : std::as_const(tags))
            tagIds.append(tag->objectID());
    }
    // Popularity falls off with the tag's rank.
    std::vector<double> weights;
    for (int i = 0; i < tagIds.size(); ++i)
        weights.push_back(1.0 / double(i + 1));
    std::discrete_distribution<int> tagChoice(weights.begin(), weights.end());
    std::poisson_distribution<int> mediaCount(std::max(0, options.mediaPerCase));

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 year = 365LL * 24 * 3600;
    int done = 0;
    while (done < options.cases) {
        const int batch = std::min(options.batchSize, options.cases - done);
        ManagedObjectContext context(ManagedObjectContext::ConcurrencyType::MainQueue, store);
        context.setStack(m_stack);
        context.setTransactionAuthor(QStringLiteral("ovalis-cli"));
        QVector<Tag *> tags;
        for (const ObjectID &id : std::as_const(tagIds))
            tags.append(static_cast<Tag *>(context.existingObject(id)));
        for (int i = 0; i < batch; ++i) {
            Case *item = context.insertNew<Case>();
            const int kind = uniform(0, 9);
            if (kind < 4)
                item->setPatientID(validNHI(random()));
            else if (kind < 7)
                item->setPatientID(validNHI(random()).left(6) + QString::number(uniform(0, 9)));
            else if (kind < 9)
                item->setPatientID(QStringLiteral("MRN%1").arg(uniform(100000, 999999)));
            item->setSex(uniform(0, 3));
            const qint64 diagnosis = now - qint64(uniform(0, 15 * 365)) * 24 * 3600;
            item->setDateOfDiagnosis(QDateTime::fromSecsSinceEpoch(diagnosis, Qt::UTC));
            if (chance(0.9))
                item->setDateOfBirth(QDateTime::fromSecsSinceEpoch(diagnosis - qint64(uniform(0, 90)) * year
                                                                       - qint64(uniform(0, 364)) * 24 * 3600,
                                                                   Qt::UTC));
            // Added some days after diagnosis, never in the future.
            item->setDateAdded(QDateTime::fromSecsSinceEpoch(std::min(now, diagnosis + qint64(uniform(0, 400)) * 24 * 3600), Qt::UTC));
            QStringList summary{findings[uniform(0, int(findings.size()) - 1)]};
            for (int w = uniform(0, 3); w > 0; --w)
                summary.prepend(qualifiers[uniform(0, int(qualifiers.size()) - 1)]);
            if (chance(0.97))
                item->setSummary(summary.join(QLatin1Char(' ')));
            QStringList detail;
            for (int s = uniform(2, 6); s > 0; --s)
                detail << sentences[uniform(0, int(sentences.size()) - 1)];
            if (chance(0.25))
                detail << QStringLiteral("See ") + links[uniform(0, int(links.size()) - 1)].arg(uniform(1000, 99999)) + QLatin1Char('.');
            if (chance(0.05))
                detail << QStringLiteral("Prior case %1.").arg(validNHI(random()));
            if (chance(0.9))
                item->setDetail(detail.join(QLatin1Char(' ')));
            if (!tags.isEmpty())
                for (int t = uniform(0, 4); t > 0; --t)
                    item->addToTags(tags[tagChoice(random)]);
            const int mediaTotal = mediaCount(random);
            for (int m = 0; m < mediaTotal; ++m) {
                Media *media = context.insertNew<Media>();
                const bool png = chance(0.2);
                media->setFileName(QStringLiteral("image-%1.%2").arg(m + 1).arg(png ? QStringLiteral("png") : QStringLiteral("jpg")));
                media->setOrderIndex(m);
                item->addToMedia(media);
                if (options.withFiles)
                    writeImage(media->filePath(), random(), png);
            }
        }
        if (!context.save(error))
            return false;
        done += batch;
        if (progress)
            progress(done, options.cases);
    }
    return true;
}

} // namespace ovalis
