#include "media/DicomDeidentifier.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/oflog/oflog.h>
#include <mutex>

#include "media/DicomUidMap.h"

namespace ovalis {

namespace {

// What happens to an attribute: removed, emptied, given a dummy value or kept.
enum class Action : char { Remove, Empty, Dummy, Keep };

struct Rule {
    quint16 group;
    quint16 element;
    Action action;
};

constexpr Action X = Action::Remove;
constexpr Action Z = Action::Empty;
constexpr Action D = Action::Dummy;
constexpr Action K = Action::Keep;

// The attributes that identify the patient, the people and places involved
// and the times of the examination. UIDs are replaced wherever they are and
// are not listed; attributes not listed stay unless they are private.
constexpr Rule rules[] = {
    // Patient.
    {0x0010, 0x0010, Z}, {0x0010, 0x0020, Z}, {0x0010, 0x0021, X}, {0x0010, 0x0022, X}, {0x0010, 0x0024, X},
    {0x0010, 0x0030, Z}, {0x0010, 0x0032, X}, {0x0010, 0x0033, X}, {0x0010, 0x0034, X}, {0x0010, 0x0035, X},
    {0x0010, 0x0040, K}, {0x0010, 0x0050, X}, {0x0010, 0x0101, X}, {0x0010, 0x0102, X}, {0x0010, 0x1000, X},
    {0x0010, 0x1001, X}, {0x0010, 0x1002, X}, {0x0010, 0x1005, X}, {0x0010, 0x1010, K}, {0x0010, 0x1020, K},
    {0x0010, 0x1030, K}, {0x0010, 0x1040, X}, {0x0010, 0x1050, X}, {0x0010, 0x1060, X}, {0x0010, 0x1080, X},
    {0x0010, 0x1081, X}, {0x0010, 0x1090, X}, {0x0010, 0x1100, X}, {0x0010, 0x2000, X}, {0x0010, 0x2110, X},
    {0x0010, 0x2150, X}, {0x0010, 0x2152, X}, {0x0010, 0x2154, X}, {0x0010, 0x2155, X}, {0x0010, 0x2160, K},
    {0x0010, 0x2180, X}, {0x0010, 0x21A0, K}, {0x0010, 0x21B0, X}, {0x0010, 0x21C0, K}, {0x0010, 0x21D0, X},
    {0x0010, 0x21F0, X}, {0x0010, 0x2203, K}, {0x0010, 0x2297, X}, {0x0010, 0x2298, X}, {0x0010, 0x2299, X},
    {0x0010, 0x4000, X},
    // Study, series, instance: dates, times, descriptions, identifiers.
    {0x0000, 0x1000, X}, {0x0008, 0x0012, X}, {0x0008, 0x0013, X}, {0x0008, 0x0015, X}, {0x0008, 0x0020, Z},
    {0x0008, 0x0021, X}, {0x0008, 0x0022, X}, {0x0008, 0x0023, Z}, {0x0008, 0x0024, X}, {0x0008, 0x0025, X},
    {0x0008, 0x002A, X}, {0x0008, 0x0030, Z}, {0x0008, 0x0031, X}, {0x0008, 0x0032, X}, {0x0008, 0x0033, Z},
    {0x0008, 0x0034, X}, {0x0008, 0x0035, X}, {0x0008, 0x0050, Z}, {0x0008, 0x0054, X}, {0x0008, 0x0080, X},
    {0x0008, 0x0081, X}, {0x0008, 0x0082, X}, {0x0008, 0x0090, Z}, {0x0008, 0x0092, X}, {0x0008, 0x0094, X},
    {0x0008, 0x0096, X}, {0x0008, 0x009C, Z}, {0x0008, 0x009D, X}, {0x0008, 0x0201, X}, {0x0008, 0x1010, X},
    {0x0008, 0x1030, X}, {0x0008, 0x1032, X}, {0x0008, 0x103E, X}, {0x0008, 0x1040, X}, {0x0008, 0x1041, X},
    {0x0008, 0x1048, X}, {0x0008, 0x1049, X}, {0x0008, 0x1050, X}, {0x0008, 0x1052, X}, {0x0008, 0x1060, X},
    {0x0008, 0x1062, X}, {0x0008, 0x1070, X}, {0x0008, 0x1072, X}, {0x0008, 0x1080, X}, {0x0008, 0x1084, X},
    {0x0008, 0x1110, X}, {0x0008, 0x1111, X}, {0x0008, 0x1120, X}, {0x0008, 0x1250, X}, {0x0008, 0x2111, X},
    {0x0008, 0x4000, X}, {0x0010, 0x0026, X}, {0x0010, 0x0027, X}, {0x0032, 0x0032, X}, {0x0032, 0x0033, X},
    {0x0032, 0x0034, X}, {0x0032, 0x0035, X},
    // Equipment, the acquisition and its descriptions.
    {0x0018, 0x0010, Z}, {0x0018, 0x1000, X}, {0x0018, 0x1004, X}, {0x0018, 0x1005, X}, {0x0018, 0x1007, X},
    {0x0018, 0x1008, X}, {0x0018, 0x1009, X}, {0x0018, 0x100A, X}, {0x0018, 0x1012, X}, {0x0018, 0x1014, X},
    {0x0018, 0x1030, X}, {0x0018, 0x1042, X}, {0x0018, 0x1043, X}, {0x0018, 0x1072, X}, {0x0018, 0x1073, X},
    {0x0018, 0x1078, X}, {0x0018, 0x1079, X}, {0x0018, 0x11BB, D}, {0x0018, 0x1200, X}, {0x0018, 0x1201, X},
    {0x0018, 0x1202, X}, {0x0018, 0x1400, X}, {0x0018, 0x4000, X}, {0x0018, 0x5011, X}, {0x0018, 0x700A, X},
    {0x0018, 0x700C, X}, {0x0018, 0x700E, X}, {0x0018, 0x9074, X}, {0x0018, 0x9151, X}, {0x0018, 0x9185, X},
    {0x0018, 0x9367, D}, {0x0018, 0x9369, D}, {0x0018, 0x936A, D}, {0x0018, 0x9371, D}, {0x0018, 0x9373, X},
    {0x0018, 0x937B, X}, {0x0018, 0x937F, X}, {0x0018, 0x9424, X}, {0x0018, 0x9516, X}, {0x0018, 0x9517, X},
    {0x0018, 0x9701, X}, {0x0018, 0x9937, X}, {0x0018, 0xA001, X}, {0x0018, 0xA002, X}, {0x0018, 0xA003, X},
    {0x0050, 0x0020, X}, {0x0050, 0x0021, X},
    // Cameras: the owner, the lens, the settings and where the picture was taken.
    {0x0016, 0x002B, X}, {0x0016, 0x004B, X}, {0x0016, 0x004D, X}, {0x0016, 0x004E, X}, {0x0016, 0x004F, X},
    {0x0016, 0x0050, X}, {0x0016, 0x0051, X}, {0x0016, 0x0070, X}, {0x0016, 0x0071, X}, {0x0016, 0x0072, X},
    {0x0016, 0x0073, X}, {0x0016, 0x0074, X}, {0x0016, 0x0075, X}, {0x0016, 0x0076, X}, {0x0016, 0x0077, X},
    {0x0016, 0x0078, X}, {0x0016, 0x0079, X}, {0x0016, 0x007A, X}, {0x0016, 0x007B, X}, {0x0016, 0x007C, X},
    {0x0016, 0x007D, X}, {0x0016, 0x007E, X}, {0x0016, 0x007F, X}, {0x0016, 0x0080, X}, {0x0016, 0x0081, X},
    {0x0016, 0x0082, X}, {0x0016, 0x0083, X}, {0x0016, 0x0084, X}, {0x0016, 0x0085, X}, {0x0016, 0x0086, X},
    {0x0016, 0x0087, X}, {0x0016, 0x0088, X}, {0x0016, 0x0089, X}, {0x0016, 0x008A, X}, {0x0016, 0x008B, X},
    {0x0016, 0x008C, X}, {0x0016, 0x008D, X}, {0x0016, 0x008E, X},
    // Image and frame comments.
    {0x0020, 0x0010, Z}, {0x0020, 0x3401, X}, {0x0020, 0x3404, X}, {0x0020, 0x3406, X}, {0x0020, 0x4000, X},
    {0x0020, 0x9158, X}, {0x0028, 0x4000, X},
    // Requests, visits and admissions.
    {0x0032, 0x0012, X}, {0x0032, 0x1000, X}, {0x0032, 0x1001, X}, {0x0032, 0x1010, X}, {0x0032, 0x1011, X},
    {0x0032, 0x1020, X}, {0x0032, 0x1021, X}, {0x0032, 0x1030, X}, {0x0032, 0x1032, X}, {0x0032, 0x1033, X},
    {0x0032, 0x1060, X}, {0x0032, 0x1066, X}, {0x0032, 0x1067, X}, {0x0032, 0x1070, X}, {0x0032, 0x4000, X},
    {0x0038, 0x0004, X}, {0x0038, 0x0010, X}, {0x0038, 0x0011, X}, {0x0038, 0x0014, X}, {0x0038, 0x001A, X},
    {0x0038, 0x001B, X}, {0x0038, 0x001E, X}, {0x0038, 0x0020, X}, {0x0038, 0x0021, X}, {0x0038, 0x0030, X},
    {0x0038, 0x0032, X}, {0x0038, 0x0040, X}, {0x0038, 0x0050, X}, {0x0038, 0x0060, X}, {0x0038, 0x0061, X},
    {0x0038, 0x0062, X}, {0x0038, 0x0064, X}, {0x0038, 0x0300, X}, {0x0038, 0x0400, X}, {0x0038, 0x0500, X},
    {0x0038, 0x4000, X}, {0x0040, 0x100A, X},
    // Procedure steps and orders.
    {0x0040, 0x0001, X}, {0x0040, 0x0002, X}, {0x0040, 0x0003, X}, {0x0040, 0x0004, X}, {0x0040, 0x0005, X},
    {0x0040, 0x0006, X}, {0x0040, 0x0007, X}, {0x0040, 0x0009, X}, {0x0040, 0x000B, X}, {0x0040, 0x0010, X},
    {0x0040, 0x0011, X}, {0x0040, 0x0012, X}, {0x0040, 0x0241, X}, {0x0040, 0x0242, X}, {0x0040, 0x0243, X},
    {0x0040, 0x0244, X}, {0x0040, 0x0245, X}, {0x0040, 0x0250, X}, {0x0040, 0x0251, X}, {0x0040, 0x0253, X},
    {0x0040, 0x0254, X}, {0x0040, 0x0275, X}, {0x0040, 0x0280, X}, {0x0040, 0x0310, X}, {0x0040, 0x0555, X},
    {0x0040, 0x1001, X}, {0x0040, 0x1002, X}, {0x0040, 0x1004, X}, {0x0040, 0x1005, X}, {0x0040, 0x1010, X},
    {0x0040, 0x1011, X}, {0x0040, 0x1101, X}, {0x0040, 0x1102, X}, {0x0040, 0x1103, X}, {0x0040, 0x1104, X},
    {0x0040, 0x1400, X}, {0x0040, 0x2001, X}, {0x0040, 0x2004, X}, {0x0040, 0x2005, X}, {0x0040, 0x2008, X},
    {0x0040, 0x2009, X}, {0x0040, 0x2010, X}, {0x0040, 0x2011, X}, {0x0040, 0x2016, Z}, {0x0040, 0x2017, Z},
    {0x0040, 0x2400, X}, {0x0040, 0x3001, X}, {0x0040, 0x4005, X}, {0x0040, 0x4008, X}, {0x0040, 0x4010, X},
    {0x0040, 0x4011, X}, {0x0040, 0x4023, X}, {0x0040, 0x4025, X}, {0x0040, 0x4027, X}, {0x0040, 0x4028, X},
    {0x0040, 0x4030, X}, {0x0040, 0x4034, X}, {0x0040, 0x4035, X}, {0x0040, 0x4036, X}, {0x0040, 0x4037, X},
    {0x0040, 0x4050, X}, {0x0040, 0x4051, X}, {0x0040, 0x4052, X}, {0x0040, 0xA027, D}, {0x0040, 0xA030, X},
    {0x0040, 0xA032, X}, {0x0040, 0xA073, D}, {0x0040, 0xA075, D}, {0x0040, 0xA078, X}, {0x0040, 0xA07A, X},
    {0x0040, 0xA07C, X}, {0x0040, 0xA082, X}, {0x0040, 0xA088, Z}, {0x0040, 0xA120, X}, {0x0040, 0xA121, X},
    {0x0040, 0xA122, X}, {0x0040, 0xA123, D}, {0x0040, 0xA13A, X}, {0x0040, 0xA192, X}, {0x0040, 0xA193, X},
    {0x0040, 0xA307, X}, {0x0040, 0xA352, X}, {0x0040, 0xA353, X}, {0x0040, 0xA354, X}, {0x0040, 0xA358, X},
    {0x0040, 0xA730, X},
    // Specimens and their containers.
    {0x0040, 0x050A, X}, {0x0040, 0x0512, D}, {0x0040, 0x0513, Z}, {0x0040, 0x051A, X}, {0x0040, 0x0551, D},
    {0x0040, 0x0562, Z}, {0x0040, 0x0600, X}, {0x0040, 0x0602, X}, {0x0040, 0x0610, Z}, {0x0040, 0x06FA, X},
    {0x0050, 0x001B, X},
    // Streams: flows, sources and their timestamps.
    {0x0034, 0x0001, D}, {0x0034, 0x0002, D}, {0x0034, 0x0005, D}, {0x0034, 0x0007, D}, {0x003A, 0x0314, D},
    // Presentation, icons, topics, labels, digital signatures and what earlier edits kept.
    {0x0070, 0x0001, X}, {0x0070, 0x0082, X}, {0x0070, 0x0083, X}, {0x0070, 0x0084, Z}, {0x0070, 0x0086, X},
    {0x0088, 0x0200, X}, {0x0088, 0x0904, X}, {0x0088, 0x0906, X}, {0x0088, 0x0910, X}, {0x0088, 0x0912, X},
    {0x0400, 0x0100, X}, {0x0400, 0x0105, X}, {0x0400, 0x0115, X}, {0x0400, 0x0120, X}, {0x0400, 0x0310, X},
    {0x0400, 0x0402, X}, {0x0400, 0x0403, X}, {0x0400, 0x0404, X}, {0x0400, 0x0550, X}, {0x0400, 0x0551, X},
    {0x0400, 0x0552, X}, {0x0400, 0x0561, X}, {0x0400, 0x0600, X}, {0x2030, 0x0020, X}, {0x2200, 0x0002, X},
    {0x2200, 0x0005, X}, {0xFFFA, 0xFFFA, X}, {0xFFFC, 0xFFFC, X},
    // Radiotherapy: labels, names, descriptions, notes and dates.
    {0x3006, 0x0002, D}, {0x3006, 0x0004, X}, {0x3006, 0x0006, X}, {0x3006, 0x0008, Z}, {0x3006, 0x0009, X},
    {0x3006, 0x0026, Z}, {0x3006, 0x0028, X}, {0x3006, 0x0038, X}, {0x3006, 0x0085, X}, {0x3006, 0x0088, X},
    {0x3008, 0x0054, X}, {0x3008, 0x0056, X}, {0x3008, 0x0105, X}, {0x3008, 0x0250, X}, {0x3008, 0x0251, X},
    {0x300A, 0x0002, D}, {0x300A, 0x0003, X}, {0x300A, 0x0004, X}, {0x300A, 0x0006, X}, {0x300A, 0x0007, X},
    {0x300A, 0x000E, X}, {0x300A, 0x0016, X}, {0x300A, 0x0072, X}, {0x300A, 0x00B2, X}, {0x300A, 0x00C3, X},
    {0x300A, 0x00DD, X}, {0x300A, 0x0196, X}, {0x300A, 0x01A6, X}, {0x300A, 0x01B2, X}, {0x300A, 0x0216, X},
    {0x300A, 0x02EB, X}, {0x300A, 0x0608, D}, {0x300A, 0x0611, Z}, {0x300A, 0x0615, Z}, {0x300A, 0x0619, D},
    {0x300A, 0x0623, D}, {0x300A, 0x062A, D}, {0x300A, 0x0676, X}, {0x300A, 0x067C, D}, {0x300A, 0x067D, Z},
    {0x300A, 0x0734, D}, {0x300A, 0x0736, D}, {0x300A, 0x073A, D}, {0x300A, 0x0741, D}, {0x300A, 0x0742, D},
    {0x300A, 0x0760, D}, {0x300A, 0x0783, D}, {0x300C, 0x0113, X}, {0x300E, 0x0008, X}, {0x3010, 0x000F, Z},
    {0x3010, 0x0017, Z}, {0x3010, 0x001B, Z}, {0x3010, 0x002D, D}, {0x3010, 0x0033, D}, {0x3010, 0x0034, D},
    {0x3010, 0x0035, D}, {0x3010, 0x0036, X}, {0x3010, 0x0037, X}, {0x3010, 0x0038, D}, {0x3010, 0x0043, Z},
    {0x3010, 0x004C, X}, {0x3010, 0x004D, X}, {0x3010, 0x0054, D}, {0x3010, 0x0056, X}, {0x3010, 0x005A, Z},
    {0x3010, 0x005C, Z}, {0x3010, 0x0061, X}, {0x3010, 0x0077, D}, {0x3010, 0x007A, Z}, {0x3010, 0x007B, Z},
    {0x3010, 0x007F, Z}, {0x3010, 0x0081, Z},
    // Text, interpretations and results.
    {0x4000, 0x0010, X}, {0x4000, 0x4000, X}, {0x4008, 0x0042, X}, {0x4008, 0x0102, X}, {0x4008, 0x010A, X},
    {0x4008, 0x010B, X}, {0x4008, 0x010C, X}, {0x4008, 0x0111, X}, {0x4008, 0x0114, X}, {0x4008, 0x0115, X},
    {0x4008, 0x0118, X}, {0x4008, 0x0119, X}, {0x4008, 0x011A, X}, {0x4008, 0x0202, X}, {0x4008, 0x0300, X},
    {0x4008, 0x4000, X},
};

const QHash<quint32, Action> &actions()
{
    static const QHash<quint32, Action> table = [] {
        QHash<quint32, Action> made;
        for (const Rule &rule : rules)
            made.insert(quint32(rule.group) << 16 | rule.element, rule.action);
        return made;
    }();
    return table;
}

std::optional<Action> actionFor(const DcmTagKey &key)
{
    const quint16 group = key.getGroup();
    const quint16 element = key.getElement();
    // Curves, and overlays' data and comments: the repeating groups.
    if ((group & 0xFF00) == 0x5000)
        return Action::Remove;
    if ((group & 0xFF00) == 0x6000 && (element == 0x3000 || element == 0x4000))
        return Action::Remove;
    // Clinical trial attributes, and what an earlier de-identification said of
    // itself: this run says what it did.
    if (group == 0x0012)
        return Action::Remove;
    // Group lengths are recomputed, or left out, when the file is written.
    if (element == 0x0000)
        return Action::Remove;
    const auto found = actions().constFind(quint32(group) << 16 | element);
    if (found != actions().cend())
        return *found;
    return std::nullopt;
}

// A dummy value that keeps an attribute that must be present meaningful
// without saying anything about the patient.
const char *dummyValue(DcmEVR vr)
{
    switch (vr) {
    case EVR_DA: return "19000101";
    case EVR_TM: return "000000";
    case EVR_DT: return "19000101000000";
    case EVR_PN: return "Anonymous";
    case EVR_AS: return "000Y";
    case EVR_IS:
    case EVR_DS: return "0";
    case EVR_LO:
    case EVR_SH:
    case EVR_LT:
    case EVR_ST:
    case EVR_UT:
    case EVR_UC:
    case EVR_CS: return "ANONYMOUS";
    default: return nullptr;
    }
}

bool isString(DcmEVR vr)
{
    return dummyValue(vr) != nullptr;
}

QString conditionText(const OFCondition &condition)
{
    return QString::fromLocal8Bit(condition.text());
}

bool setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool putString(DcmItem &item, const DcmTagKey &key, const char *value)
{
    return item.putAndInsertString(key, value).good();
}

bool addCode(DcmItem &dataset, const char *value, const char *meaning)
{
    DcmItem *code = nullptr;
    if (dataset.findOrCreateSequenceItem(DCM_DeidentificationMethodCodeSequence, code, -2).bad() || !code)
        return false;
    return putString(*code, DCM_CodeValue, value) && putString(*code, DCM_CodingSchemeDesignator, "DCM")
           && putString(*code, DCM_CodeMeaning, meaning);
}

bool hasPrivate(DcmItem &item)
{
    for (unsigned long n = 0; n < item.card(); ++n) {
        DcmElement *element = item.getElement(n);
        if (element->getTag().isPrivate())
            return true;
        if (element->ident() == EVR_SQ) {
            auto *sequence = static_cast<DcmSequenceOfItems *>(element);
            for (unsigned long i = 0; i < sequence->card(); ++i)
                if (DcmItem *child = sequence->getItem(i); child && hasPrivate(*child))
                    return true;
        }
    }
    return false;
}

} // namespace

DicomDeidentifier::DicomDeidentifier(std::shared_ptr<DicomUidMap> map)
    : m_map(std::move(map))
{
}

QString DicomDeidentifier::methodDescription()
{
    // Several values, each within the 64 characters a long string may hold.
    return QStringLiteral("Ovalis basic confidentiality profile\\Patient characteristics retained\\"
                          "Private attributes removed\\UIDs replaced");
}

bool DicomDeidentifier::replaceUids(DcmItem &item, QString *error)
{
    for (unsigned long n = 0; n < item.card(); ++n) {
        DcmElement *element = item.getElement(n);
        if (element->ident() != EVR_UI)
            continue;
        OFString value;
        if (element->getOFStringArray(value).bad() || value.empty())
            continue;
        QStringList uids = QString::fromLatin1(value.c_str()).split(QLatin1Char('\\'));
        bool changed = false;
        for (QString &uid : uids) {
            uid = uid.trimmed();
            if (uid.isEmpty() || DicomUidMap::isWellKnown(uid))
                continue;
            const QString replacement = m_map ? m_map->replacement(uid) : QString();
            if (replacement.isEmpty())
                return setError(error, QStringLiteral("the UID map could not be written") + (m_map ? QStringLiteral(": ") + m_map->errorString() : QString()));
            uid = replacement;
            changed = true;
        }
        if (changed && element->putString(uids.join(QLatin1Char('\\')).toLatin1().constData()).bad())
            return setError(error, QStringLiteral("a UID could not be replaced"));
    }
    return true;
}

bool DicomDeidentifier::cleanItem(DcmItem &item, int depth, QString *error)
{
    // Deeper than any real object nests: refused rather than followed.
    if (depth > 64)
        return setError(error, QStringLiteral("sequences nested too deeply"));
    for (unsigned long n = item.card(); n-- > 0;) {
        DcmElement *element = item.getElement(n);
        const DcmTag &tag = element->getTag();
        const DcmEVR vr = element->ident();
        std::optional<Action> action = tag.isPrivate() ? std::optional<Action>(Action::Remove) : actionFor(tag);
        // A person's name anywhere, in a sequence or under a tag not listed, goes;
        // so does whatever the toolkit cannot tell the meaning of.
        if (!action && vr == EVR_PN)
            action = Action::Empty;
        if (!action && vr == EVR_UN)
            action = Action::Remove;
        if (action == Action::Remove) {
            delete item.remove(n);
            continue;
        }
        if (action == Action::Empty || (action == Action::Dummy && !isString(vr))) {
            element->clear();
            continue;
        }
        if (action == Action::Dummy) {
            element->putString(dummyValue(vr));
            continue;
        }
        if (vr == EVR_SQ) {
            auto *sequence = static_cast<DcmSequenceOfItems *>(element);
            for (unsigned long i = 0; i < sequence->card(); ++i)
                if (DcmItem *child = sequence->getItem(i); child && !cleanItem(*child, depth + 1, error))
                    return false;
        }
    }
    return replaceUids(item, error);
}

bool DicomDeidentifier::deidentifyDataset(DcmItem &dataset, QString *error)
{
    if (!cleanItem(dataset, 0, error))
        return false;
    const bool marked = putString(dataset, DCM_PatientIdentityRemoved, "YES")
                        && putString(dataset, DCM_DeidentificationMethod, methodDescription().toLatin1().constData())
                        && addCode(dataset, "113100", "Basic Application Confidentiality Profile")
                        && addCode(dataset, "113108", "Retain Patient Characteristics Option");
    return marked || setError(error, QStringLiteral("the de-identification could not be recorded in the file"));
}

bool DicomDeidentifier::deidentify(DcmFileFormat &file, QString *error)
{
    DcmDataset *dataset = file.getDataset();
    if (!dataset)
        return setError(error, QStringLiteral("no data set"));
    // The meta header is made anew from the data set when the file is saved;
    // what it says of the sender goes now.
    if (DcmMetaInfo *meta = file.getMetaInfo())
        meta->clear();
    return deidentifyDataset(*dataset, error);
}

void DicomDeidentifier::quietenToolkit()
{
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

bool DicomDeidentifier::load(DcmFileFormat &file, const QString &path, QString *error)
{
    quietenToolkit();
    const QFileInfo info(path);
    if (!info.isFile())
        return setError(error, QStringLiteral("not a file"));
    if (info.size() > maximumFileSize)
        return setError(error, QStringLiteral("larger than %1 GB").arg(maximumFileSize >> 30));
    const OFCondition status = file.loadFile(OFFilename(QFile::encodeName(path).constData()), EXS_Unknown, EGL_noChange, 4096,
                                             ERM_fileOnly);
    if (status.bad())
        return setError(error, conditionText(status));
    return true;
}

bool DicomDeidentifier::save(DcmFileFormat &file, const QString &path, QString *error)
{
    DcmDataset *dataset = file.getDataset();
    if (!dataset)
        return setError(error, QStringLiteral("no data set"));
    // Values read lazily from the source come in now, so that a source that
    // ends early fails here instead of leaving a short file behind.
    const OFCondition loaded = dataset->loadAllDataIntoMemory();
    if (loaded.bad())
        return setError(error, conditionText(loaded));
    const QByteArray destination = QFile::encodeName(path);
    const QByteArray temporary = QFile::encodeName(QFileInfo(path).path()) + "/."
                                 + QUuid::createUuid().toString(QUuid::Id128).toLatin1() + ".part";
    const OFCondition written = file.saveFile(OFFilename(temporary.constData()), dataset->getOriginalXfer(), EET_ExplicitLength,
                                              EGL_withoutGL, EPD_noChange, 0, 0, EWM_createNewMeta);
    if (written.bad()) {
        ::unlink(temporary.constData());
        return setError(error, conditionText(written));
    }
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, destination.constData(), RENAME_NOREPLACE) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        return setError(error, QString::fromLocal8Bit(std::strerror(code)));
    }
    return true;
}

bool DicomDeidentifier::deidentifyFile(const QString &source, const QString &destination, QString *error)
{
    DcmFileFormat file;
    return load(file, source, error) && deidentify(file, error) && save(file, destination, error);
}

DicomDeidentifier::Check DicomDeidentifier::check(const QString &path)
{
    Check result;
    DcmFileFormat file;
    if (!load(file, path, &result.error))
        return result;
    result.readable = true;
    DcmDataset *dataset = file.getDataset();
    OFString removed;
    result.identityRemoved = dataset->findAndGetOFString(DCM_PatientIdentityRemoved, removed).good() && removed == "YES";
    result.hasPrivateTags = hasPrivate(*dataset) || (file.getMetaInfo() && hasPrivate(*file.getMetaInfo()));
    return result;
}

} // namespace ovalis
