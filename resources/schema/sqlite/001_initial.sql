-- Embedded default: four database files attached as pacs, Patient_Data, build_file and DICOM.
-- Lengths are enforced with CHECK constraints so that SQLite refuses what the servers refuse.
-- Dates are ISO texts (YYYY-MM-DD, or YYYY-MM-DD HH:MM:SS for moments).

CREATE TABLE pacs.tblSchemaVersion (version INTEGER NOT NULL);

CREATE TABLE pacs.tblTransaction (
  trans_id INTEGER PRIMARY KEY AUTOINCREMENT,
  trans_no VARCHAR(16) NOT NULL CHECK (length(trans_no) <= 16),
  patient_id VARCHAR(10) CHECK (length(patient_id) <= 10),
  hospnum VARCHAR(10) CHECK (length(hospnum) <= 10),
  RevenueID VARCHAR(10) CHECK (length(RevenueID) <= 10),
  file_no VARCHAR(20) CHECK (length(file_no) <= 20),
  exam_id VARCHAR(10) CHECK (length(exam_id) <= 10),
  refdoc_id VARCHAR(10) CHECK (length(refdoc_id) <= 10),
  radiologist_id VARCHAR(10) CHECK (length(radiologist_id) <= 10),
  technologist_id VARCHAR(20) CHECK (length(technologist_id) <= 20),
  by_trans VARCHAR(20) CHECK (length(by_trans) <= 20),
  date_trans DATE,
  StudyUID VARCHAR(255) CHECK (length(StudyUID) <= 255),
  interpretation TEXT,
  by_interpret VARCHAR(20) CHECK (length(by_interpret) <= 20),
  date_interpret DATETIME
);
CREATE UNIQUE INDEX pacs.ux_tblTransaction_trans_no ON tblTransaction (trans_no);
CREATE INDEX pacs.ix_tblTransaction_modality_date ON tblTransaction (RevenueID, date_trans);
CREATE INDEX pacs.ix_tblTransaction_patient ON tblTransaction (patient_id);
CREATE INDEX pacs.ix_tblTransaction_hospnum ON tblTransaction (hospnum);

CREATE TABLE pacs.tblTransNo (trans_no INTEGER NOT NULL);

CREATE TABLE pacs.tblPatient (
  patient_id INTEGER PRIMARY KEY,
  name_last VARCHAR(50) CHECK (length(name_last) <= 50),
  name_first VARCHAR(50) CHECK (length(name_first) <= 50),
  name_middle VARCHAR(50) CHECK (length(name_middle) <= 50),
  date_birth DATE,
  sex_type VARCHAR(1) CHECK (length(sex_type) <= 1),
  by_created VARCHAR(20) CHECK (length(by_created) <= 20),
  by_updated VARCHAR(20) CHECK (length(by_updated) <= 20),
  date_updated DATETIME
);
CREATE INDEX pacs.ix_tblPatient_name ON tblPatient (name_last, name_first, name_middle);
-- The transaction list joins on the registration number as text.
CREATE INDEX pacs.ix_tblPatient_id_text ON tblPatient (CAST(patient_id AS varchar));

CREATE TABLE pacs.tblExam (
  exam_id VARCHAR(10) PRIMARY KEY CHECK (length(exam_id) <= 10),
  exam_name VARCHAR(100) CHECK (length(exam_name) <= 100),
  modality_code VARCHAR(10) CHECK (length(modality_code) <= 10)
);
CREATE INDEX pacs.ix_tblExam_modality ON tblExam (modality_code, exam_name);

CREATE TABLE pacs.tblExamCode (
  examcode_id INTEGER PRIMARY KEY AUTOINCREMENT,
  exam_id VARCHAR(10) CHECK (length(exam_id) <= 10),
  examcode TEXT,
  radiologist_id VARCHAR(10) CHECK (length(radiologist_id) <= 10),
  by_created VARCHAR(20) CHECK (length(by_created) <= 20),
  by_updated VARCHAR(20) CHECK (length(by_updated) <= 20),
  date_updated DATETIME
);
CREATE INDEX pacs.ix_tblExamCode_exam ON tblExamCode (exam_id, radiologist_id);

CREATE TABLE pacs.tblDoctor (
  doctor_id VARCHAR(10) PRIMARY KEY CHECK (length(doctor_id) <= 10),
  name_last VARCHAR(50) CHECK (length(name_last) <= 50),
  name_first VARCHAR(50) CHECK (length(name_first) <= 50),
  name_middle VARCHAR(50) CHECK (length(name_middle) <= 50),
  radiologist VARCHAR(1) CHECK (length(radiologist) <= 1)
);

CREATE TABLE pacs.tblTechnologist (
  technologist_id VARCHAR(20) PRIMARY KEY CHECK (length(technologist_id) <= 20),
  name_last VARCHAR(50) CHECK (length(name_last) <= 50),
  name_first VARCHAR(50) CHECK (length(name_first) <= 50),
  name_middle VARCHAR(50) CHECK (length(name_middle) <= 50)
);

CREATE TABLE pacs.tblFile (
  file_id INTEGER PRIMARY KEY AUTOINCREMENT,
  trans_no VARCHAR(16) CHECK (length(trans_no) <= 16),
  server_name VARCHAR(255) CHECK (length(server_name) <= 255),
  server_folder VARCHAR(255) CHECK (length(server_folder) <= 255),
  filedir VARCHAR(255) CHECK (length(filedir) <= 255),
  filename VARCHAR(255) CHECK (length(filename) <= 255),
  compname VARCHAR(64) CHECK (length(compname) <= 64),
  user_id VARCHAR(20) CHECK (length(user_id) <= 20)
);
CREATE INDEX pacs.ix_tblFile_trans_no ON tblFile (trans_no);

CREATE TABLE pacs.tblUser (
  employee_code VARCHAR(20) PRIMARY KEY CHECK (length(employee_code) <= 20),
  full_name VARCHAR(100) CHECK (length(full_name) <= 100),
  dept_code VARCHAR(10) CHECK (length(dept_code) <= 10),
  password_hash VARCHAR(255) NOT NULL,
  failed_tries INTEGER NOT NULL DEFAULT 0,
  locked_until BIGINT NOT NULL DEFAULT 0
);

CREATE TABLE Patient_Data.tbMaster (
  HospNum VARCHAR(10) PRIMARY KEY CHECK (length(HospNum) <= 10),
  IdNum VARCHAR(20),
  LastName VARCHAR(50),
  FirstName VARCHAR(50),
  MiddleName VARCHAR(50),
  BirthDate DATE,
  sex VARCHAR(1)
);
CREATE INDEX Patient_Data.ix_tbMaster_name ON tbMaster (LastName, FirstName, MiddleName);

CREATE TABLE Patient_Data.tbPatient (
  HospNum VARCHAR(10) NOT NULL,
  AdmDate DATETIME,
  RoomID VARCHAR(10),
  DcrDate DATETIME
);
CREATE INDEX Patient_Data.ix_tbPatient_hospnum ON tbPatient (HospNum);

CREATE TABLE Patient_Data.tbOutPatient (
  HospNum VARCHAR(10) NOT NULL,
  AdmDate DATETIME,
  BillingDate DATETIME
);
CREATE INDEX Patient_Data.ix_tbOutPatient_hospnum ON tbOutPatient (HospNum);

CREATE TABLE build_file.tbcoDoctor (
  DoctorID VARCHAR(10) PRIMARY KEY,
  LastName VARCHAR(50),
  FirstName VARCHAR(50),
  MiddleName VARCHAR(50),
  userid VARCHAR(20),
  Status VARCHAR(1),
  Radiologist VARCHAR(1)
);
CREATE INDEX build_file.ix_tbcoDoctor_userid ON tbcoDoctor (userid);
CREATE INDEX build_file.ix_tbcoDoctor_name ON tbcoDoctor (LastName, FirstName);

CREATE TABLE build_file.tbcoxrayExam (
  exam_id VARCHAR(10) PRIMARY KEY,
  exam_name VARCHAR(100)
);

INSERT INTO pacs.tblSchemaVersion(version) VALUES (1);
