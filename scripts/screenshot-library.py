#!/usr/bin/env python3
"""Writes the teaching library that the screenshots show.

Usage: screenshot-library.py BACKUP IMAGES [MEDIA]

Writes BACKUP, a JSON backup of plausible teaching cases (made-up patient
identifiers, dates, summaries, details and tags; no patient's data), for
`ovalis-cli restore-backup`. Each case has one to three images, taken by kind
from IMAGES (the folder scripts/screenshot-images.sh draws). With MEDIA (a
library's Media folder), also links each image into it under its media
record's uuid, so that no case's media is missing. The same cases come out
every time: the first case, added last, is a chest radiograph case of
sarcoidosis, which the media and annotation screenshots open.
"""

import datetime
import json
import os
import random
import shutil
import sys
import uuid

CASES = 420

# Summary variants, tags, image kinds, age range, sex (None: either),
# findings and a teaching point.
DIAGNOSES = [
    (["Sarcoidosis with bilateral hilar lymphadenopathy", "Stage I sarcoidosis"], ["Chest", "Plain film", "Classic"],
     ["chest-2"], (22, 48), None,
     "Symmetrical enlargement of both hila with clear lung fields.",
     "bilateral symmetrical hilar enlargement in a young adult is sarcoidosis until proven otherwise"),
    (["Right upper lobe pneumonia", "Community-acquired pneumonia, right upper lobe"], ["Chest", "Plain film", "Emergency"],
     ["chest-1"], (18, 85), None,
     "Airspace opacification in the right upper zone bounded below by the horizontal fissure.",
     "a lobar consolidation respects its fissures"),
    (["Left tension pneumothorax", "Spontaneous pneumothorax, left"], ["Chest", "Plain film", "Emergency"],
     ["chest-1"], (18, 40), "male",
     "Absent lung markings peripheral to a visible pleural line, with mediastinal shift to the right.",
     "tension is a clinical diagnosis; the film should not delay decompression"),
    (["Right pleural effusion", "Large right pleural effusion"], ["Chest", "Plain film", "Ultrasound"],
     ["chest-1", "us-1"], (45, 90), None,
     "Homogeneous opacity at the right base with a meniscus; ultrasound shows an anechoic collection.",
     "ultrasound guides the safest site for drainage"),
    (["Cardiomegaly with pulmonary oedema", "Congestive cardiac failure"], ["Chest", "Cardiac", "Plain film"],
     ["chest-1"], (60, 92), None,
     "Cardiothoracic ratio above 0.5, upper lobe blood diversion, septal lines and small effusions.",
     "look for the ABCDE of cardiac failure"),
    (["Pulmonary metastases", "Cannonball metastases"], ["Chest", "Oncology", "Plain film"],
     ["chest-1"], (40, 85), None,
     "Multiple well-defined round nodules of varying size in both lungs.",
     "renal cell carcinoma, sarcoma and testicular tumours give cannonball metastases"),
    (["Glioblastoma, right frontal lobe", "Glioblastoma with ring enhancement"], ["Neuro", "MRI", "Oncology"],
     ["mri-2", "mri-1"], (45, 78), None,
     "Irregular rim-enhancing mass with central necrosis and surrounding vasogenic oedema.",
     "thick irregular enhancement favours tumour over abscess"),
    (["Cerebral abscess", "Pyogenic cerebral abscess"], ["Neuro", "MRI", "Emergency"],
     ["mri-2"], (20, 70), None,
     "Smooth thin-walled ring-enhancing lesion with restricted diffusion centrally.",
     "restricted diffusion in the cavity separates abscess from necrotic tumour"),
    (["Convexity meningioma", "Meningioma with dural tail"], ["Neuro", "MRI", "Classic"],
     ["mri-2"], (40, 80), "female",
     "Extra-axial, broad-based dural mass with homogeneous enhancement and a dural tail.",
     "a CSF cleft confirms the mass is extra-axial"),
    (["Multiple sclerosis", "Demyelination, periventricular plaques"], ["Neuro", "MRI"],
     ["mri-1"], (20, 45), "female",
     "Ovoid periventricular white matter lesions perpendicular to the ventricles.",
     "Dawson fingers follow the medullary veins"),
    (["Normal pressure hydrocephalus"], ["Neuro", "MRI"],
     ["mri-1"], (65, 85), None,
     "Ventricles enlarged out of proportion to the sulci, with a narrow callosal angle.",
     "the triad is gait disturbance, dementia and incontinence"),
    (["Hepatocellular carcinoma", "HCC in a cirrhotic liver"], ["Abdomen", "CT", "Oncology"],
     ["ct-2", "ct-1"], (50, 80), "male",
     "Arterially enhancing liver lesion with washout on the portal venous phase.",
     "arterial enhancement with washout in cirrhosis is diagnostic without biopsy"),
    (["Simple hepatic cyst"], ["Abdomen", "Ultrasound", "CT"],
     ["us-1", "ct-2"], (30, 80), None,
     "Anechoic lesion with posterior acoustic enhancement; water density on CT without enhancement.",
     "a simple cyst needs no follow-up"),
    (["Acute appendicitis", "Perforated appendicitis"], ["Abdomen", "CT", "Emergency"],
     ["ct-1", "us-1"], (8, 40), None,
     "Dilated, thick-walled appendix with periappendiceal fat stranding.",
     "an appendix over 6 mm that does not compress is abnormal"),
    (["Renal cell carcinoma, left kidney", "Clear cell renal carcinoma"], ["Abdomen", "CT", "Oncology"],
     ["ct-1"], (45, 80), None,
     "Heterogeneous enhancing mass arising from the left kidney; the renal vein is patent.",
     "always look at the renal vein and the IVC"),
    (["Abdominal aortic aneurysm", "Infrarenal aortic aneurysm"], ["Abdomen", "CT", "Vascular"],
     ["ct-1"], (60, 88), "male",
     "Infrarenal aorta measuring 6.1 cm with mural thrombus; no retroperitoneal haematoma.",
     "repair is considered from 5.5 cm"),
    (["Acute pancreatitis"], ["Abdomen", "CT", "Emergency"],
     ["ct-1"], (30, 75), None,
     "Bulky pancreas with peripancreatic fluid; the gland enhances throughout.",
     "CT in the first 72 hours underestimates necrosis"),
    (["Splenic laceration", "Grade III splenic injury"], ["Abdomen", "CT", "Trauma", "Emergency"],
     ["ct-1"], (16, 60), "male",
     "Linear low-density laceration of the spleen with perisplenic haematoma.",
     "look for active extravasation on the arterial phase"),
    (["Acute calculous cholecystitis", "Gallstones with cholecystitis"], ["Abdomen", "Ultrasound", "Emergency"],
     ["us-1"], (30, 80), "female",
     "Gallstones, a thickened gallbladder wall and a positive sonographic Murphy sign.",
     "a stone impacted in the neck does not move with the patient"),
    (["Ovarian dermoid cyst", "Mature cystic teratoma"], ["Women's imaging", "Ultrasound"],
     ["us-1"], (18, 45), "female",
     "Complex adnexal mass with an echogenic Rokitansky nodule and fat-fluid level.",
     "the tip of the iceberg sign"),
    (["Thyroid nodule", "Solid thyroid nodule, U3"], ["Head and neck", "Ultrasound"],
     ["us-1"], (30, 75), "female",
     "Solid hypoechoic nodule in the right lobe with microcalcification.",
     "grade the nodule before deciding on aspiration"),
    (["Scaphoid waist fracture", "Occult scaphoid fracture"], ["MSK", "Plain film", "Trauma", "Emergency"],
     ["wrist-2", "wrist-1"], (15, 45), None,
     "Lucent line across the waist of the scaphoid; the initial views were normal.",
     "a normal first film does not exclude a scaphoid fracture"),
    (["Distal radius fracture", "Colles fracture"], ["MSK", "Plain film", "Trauma"],
     ["wrist-2"], (55, 90), "female",
     "Extra-articular fracture of the distal radius with dorsal angulation.",
     "measure the radial inclination and the volar tilt"),
    (["Rheumatoid arthritis of the hands", "Erosive rheumatoid arthritis"], ["MSK", "Plain film"],
     ["wrist-1"], (35, 75), "female",
     "Periarticular osteopenia and marginal erosions at the metacarpophalangeal joints.",
     "erosions begin at the bare areas"),
    (["Perthes disease, right hip", "Legg-Calvé-Perthes disease"], ["MSK", "Paediatric", "Plain film"],
     ["pelvis-2"], (4, 10), "male",
     "Flattened, sclerotic right femoral epiphysis with a subchondral lucency.",
     "the crescent sign is best seen on the frog lateral view"),
    (["Slipped upper femoral epiphysis"], ["MSK", "Paediatric", "Plain film", "Emergency"],
     ["pelvis-2"], (10, 15), "male",
     "Klein's line fails to intersect the left femoral epiphysis.",
     "always ask for a frog lateral view"),
    (["Developmental dysplasia of the hip"], ["MSK", "Paediatric", "Plain film", "Ultrasound"],
     ["pelvis-1", "us-1"], (0, 1), "female",
     "Shallow acetabulum with a laterally displaced femoral head.",
     "ultrasound before ossification, radiographs after"),
    (["Osteoarthritis of both hips", "Primary hip osteoarthritis"], ["MSK", "Plain film"],
     ["pelvis-1"], (55, 90), None,
     "Superolateral joint space narrowing, subchondral sclerosis and osteophytes.",
     "superolateral narrowing distinguishes osteoarthritis from inflammatory arthritis"),
    (["Paget disease of the pelvis"], ["MSK", "Plain film", "Rare"],
     ["pelvis-1"], (60, 90), None,
     "Coarsened trabeculae and cortical thickening of the right hemipelvis.",
     "thickening of the iliopectineal line is an early sign"),
]

PRESENTATIONS = [
    "Presented to the emergency department.",
    "Referred by the general practitioner.",
    "Found on a routine examination.",
    "Seen at the multidisciplinary meeting.",
    "Presented with a two-week history of worsening symptoms.",
]
OUTCOMES = [
    "Confirmed at surgery.",
    "Histology confirmed the diagnosis.",
    "Follow-up imaging at six months showed resolution.",
    "Managed conservatively with a good outcome.",
    "",
]
REFERENCES = [
    "https://doi.org/10.1148/rg.2017160070",
    "https://doi.org/10.1148/radiol.2019182297",
    "https://doi.org/10.2214/AJR.18.20121",
    "https://doi.org/10.1259/bjr.20190215",
]
FILE_NAMES = {
    "chest": ["CXR PA", "CXR follow-up"], "ct": ["CT axial", "CT portal venous"], "mri": ["MRI T1 post contrast", "MRI FLAIR"],
    "us": ["US"], "wrist": ["Wrist PA", "Scaphoid views"], "pelvis": ["Pelvis AP", "Frog lateral"],
}


def uuid_folder(identifier):
    """The media folder of a uuid: its first group cut into pairs."""
    group = identifier.split("-")[0]
    return "/".join(group[i:i + 2] for i in range(0, len(group), 2))


def national_health_index(rng):
    """A made-up identifier in the form of a New Zealand NHI (three letters,
    four digits) whose check digit is right, so the library shows it as valid."""
    letters = "ABCDEFGHJKLMNPQRSTUVWXYZ"  # Neither I nor O.
    while True:
        text = "".join(rng.choice(letters) for _ in range(3))
        digits = [rng.randrange(10) for _ in range(3)]
        values = [letters.index(letter) + 1 for letter in text]
        remainder = sum(weight * value for weight, value in zip((7, 6, 5, 4, 3, 2), values + digits)) % 11
        if remainder:
            return text + "".join(map(str, digits)) + str(0 if remainder == 1 else 11 - remainder)


def images_by_kind(folder):
    kinds = {}
    for name in sorted(os.listdir(folder)):
        stem, extension = os.path.splitext(name)
        kinds.setdefault(stem, []).append(extension)
    return kinds


def make_case(rng, index, kinds):
    # The first case is the one the screenshots open: the newest, with both
    # of its images showing the hila.
    diagnosis = DIAGNOSES[0] if index == 0 else rng.choice(DIAGNOSES)
    summaries, tags, images, (youngest, oldest), sex, findings, point = diagnosis
    if index == 0:
        added = datetime.date(2026, 11, 30)
        diagnosed = added - datetime.timedelta(days=3)
    else:
        diagnosed = datetime.date(2013, 1, 1) + datetime.timedelta(days=rng.randrange(0, 5050))
        added = diagnosed + datetime.timedelta(days=rng.choice([0, 1, 2, 7, 14, 30, 90]))
        if added >= datetime.date(2026, 11, 30) or added == datetime.date(2021, 1, 20):
            added = diagnosed
    age_days = rng.randrange(youngest * 365, oldest * 365 + 364) + 30
    born = diagnosed - datetime.timedelta(days=age_days)
    if sex is None or rng.random() < 0.1:
        sex = rng.choice(["male", "female", "male", "female", "v"]) if index else "female"
    case_tags = list(tags)
    for extra, chance in (("FRCR", 0.2), ("Follow-up", 0.08), ("Classic", 0.06)):
        if extra not in case_tags and rng.random() < chance:
            case_tags.append(extra)
    detail = [rng.choice(PRESENTATIONS), findings, "Teaching point: " + point + ".", rng.choice(OUTCOMES)]
    if index and rng.random() < 0.15:
        detail.append("See " + rng.choice(REFERENCES) + ".")
    identifier = national_health_index(rng)

    media = []
    pictures = list(images) if index == 0 else images[:rng.choice([1, 1, 2, 2, 3])]
    while len(pictures) < 2 and index == 0:
        pictures.append(pictures[0])
    for number, picture in enumerate(pictures):
        extensions = kinds[picture]
        extension = extensions[number % len(extensions)]
        names = FILE_NAMES[picture.split("-")[0]]
        name = names[number % len(names)] + (" %d" % (number + 1) if number >= len(names) else "") + extension
        media.append({
            "identifier": str(uuid.UUID(int=rng.getrandbits(128), version=4)).upper(),
            "filename": name,
            "date_of_creation": added.isoformat(),
            "_source": picture + extension,
        })
    return {
        "patient_identifier": identifier,
        "sex": sex,
        "date_of_birth": born.isoformat(),
        "date_of_diagnosis": diagnosed.isoformat(),
        "date_added": added.isoformat(),
        "summary": rng.choice(summaries) if index else summaries[0],
        "detail": " ".join(part for part in detail if part),
        "tags": ",".join(case_tags),
        "media": media,
    }


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[2])
    backup, images = sys.argv[1], sys.argv[2]
    media_folder = sys.argv[3] if len(sys.argv) == 4 else None
    kinds = images_by_kind(images)
    rng = random.Random(21)
    cases = [make_case(rng, index, kinds) for index in range(CASES)]
    for case in cases:
        for media in case["media"]:
            source = os.path.join(images, media.pop("_source"))
            if media_folder:
                folder = os.path.join(media_folder, uuid_folder(media["identifier"]))
                os.makedirs(folder, exist_ok=True)
                target = os.path.join(folder, media["identifier"] + os.path.splitext(media["filename"])[1])
                try:
                    os.link(source, target)
                except OSError:
                    shutil.copyfile(source, target)
    with open(backup, "w", encoding="utf-8") as file:
        json.dump(cases, file, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main()
