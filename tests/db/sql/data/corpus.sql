-- Every statement the screens send, as they build it, with sample values.
-- A block starts with "-- name:"; "-- param NAME kind value" sets a parameter
-- (kind text, int or date; a date as yyyy-mm-dd); the other lines are the
-- statement's lines, joined with CR LF as the screens' text lists join them.
-- name: nextcode_patient
SELECT CODE FROM PATIENT ORDER BY CODE
-- name: users_select
SELECT * FROM USERS
-- name: users_insert_manager
INSERT INTO USERS.DB (USERID, NOM, PRENOM, ACCES, PW)    VALUES ('MANAGER', 'MANAGER', 'MANAGER', 'MANAGER', '')
-- name: users_select_again
SELECT * FROM USERS.DB 
-- name: users_update_pw
UPDATE USERS SET PW='SECRET' WHERE USERID='MANAGER'
-- name: picker_du
SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'DU%' ORDER BY NOM, PRENOM
-- name: picker_quote
SELECT CODE, NOM,PRENOM, DN, ADR, PROFES FROM PATIENT WHERE NOM LIKE 'D''A%' ORDER BY NOM, PRENOM
-- name: patient_delete_guard
SELECT PATIENT FROM CONS.DBF
-- name: consul_history
-- param PATIENT text 000001
SELECT * FROM CONS.DBF WHERE PATIENT=:PATIENT
ORDER BY DCONS
-- name: consul_patient
-- param CODE text 000001
SELECT *  FROM PATIENT WHERE CODE=:CODE
-- name: consul_exam_dates
-- param MyPatient text 000001
SELECT DISTINCT PATIENT, DATE_EX FROM EXCOMP
WHERE PATIENT=:MyPatient
ORDER BY DATE_EX
-- name: consul_exam_bio
-- param MyPatient text 000001
-- param MyDateEx date 2024-03-05
SELECT * FROM EXCOMP
WHERE   RADIOBIO='B' AND 
PATIENT=:MyPatient AND 
DATE_EX=:MyDateEx
-- name: consul_fbio
SELECT * FROM FBIO
-- name: consul_fradio
SELECT * FROM FRADIO
-- name: consul_max_id
SELECT MAX(ID_CONS) AS NEXT_ID FROM CONS.DBF 
-- name: consul_insert
-- param ID_CONS text 5
-- param PATIENT text 000002
-- param DCONS date 2024-07-14
-- param MOTIF text CEPHALEES
-- param TA text 12/8
-- param DIAG text MIGRAINE
-- param TRT1 text PARACETAMOL
-- param POIDS text 70
-- param DEP text 
-- param TEMP text 37
-- param NB text 
INSERT INTO CONS.DBF        (ID_CONS, PATIENT, DCONS, MOTIF, TA,         DIAG, TRT1, POIDS, DEP, TEMP, NB ) VALUES (:ID_CONS, :PATIENT, :DCONS, :MOTIF, :TA,         :DIAG, :TRT1, :POIDS, :DEP, :TEMP, :NB )
-- name: consul_update
-- param ID_CONS text 5
-- param PATIENT text 000002
-- param DCONS date 2024-07-15
-- param MOTIF text CEPHALEES INTENSES
-- param TA text 13/8
-- param DIAG text MIGRAINE
-- param TRT1 text IBUPROFENE
-- param POIDS text 71
-- param DEP text 
-- param TEMP text 37.5
-- param NB text A REVOIR
UPDATE CONS.DBF SET        DCONS=:DCONS, MOTIF=:MOTIF, TA=:TA,        DIAG=:DIAG, TRT1=:TRT1, DEP=:DEP,        POIDS=:POIDS, TEMP=:TEMP, NB=:NB WHERE ID_CONS=:ID_CONS AND PATIENT=:PATIENT
-- name: picklist_motif
SELECT DISTINCT MOTIF FROM CONS.DBF WHERE MOTIF <> '' ORDER BY MOTIF
-- name: picklist_diag
SELECT DISTINCT DIAG FROM CONS.DBF WHERE DIAG <> '' ORDER BY DIAG
-- name: picklist_trt
SELECT DISTINCT TRT1 FROM CONS.DBF WHERE TRT1 <> '' ORDER BY TRT1
-- name: exam_delete
DELETE FROM EXCOMP WHERE NUM='000003'
-- name: photos_select
SELECT * FROM FPHOTO WHERE CODE='000001'
-- name: certificate_patient
-- param MYCODE text 000003
SELECT CODE, NOM, PRENOM, SEXE FROM PATIENT
WHERE CODE=:MYCODE
-- name: reftable_list
SELECT * FROM FBIO ORDER BY LIBELLE
-- name: reftable_by_code
SELECT * FROM FBIO ORDER BY Code
-- name: reftable_delete
DELETE FROM  FBIO WHERE CODE='002'
-- name: exam_list_radio
SELECT * FROM FRADIO.DBF ORDER BY LIBELLE
-- name: exam_list_bio
SELECT * FROM FBIO.DBF ORDER BY LIBELLE
-- name: exam_exists
SELECT * FROM EXCOMP WHERE PATIENT='000001' AND       DATE_EX='3/5/2024' AND       CODE='001' AND       RADIOBIO='B' 
-- name: exam_exists_not
SELECT * FROM EXCOMP WHERE PATIENT='000001' AND       DATE_EX='3/6/2024' AND       CODE='001' AND       RADIOBIO='B' 
-- name: ord_numbers
SELECT DISTINCT CODE FROM FORD
ORDER BY CODE
-- name: ord_next_line
SELECT MAX(NUM) AS myNUM FROM FORD WHERE CODE='1'
-- name: ord_next_line_none
SELECT MAX(NUM) AS myNUM FROM FORD WHERE CODE='9'
-- name: ord_delete_line
DELETE FROM FORD.DBF WHERE CODE='1' AND       NUM='1'
-- name: ord_delete
DELETE FROM FORD.DBF WHERE CODE='10'
-- name: ord_lines
-- param CODE text 1
SELECT * FROM FORD.DBF WHERE CODE=:CODE ORDER BY NUM
-- name: ord_report
-- param MYCODE text 2
SELECT * FROM FORD
WHERE CODE=:MYCODE
-- name: ord_report_patient
-- param MYCODE text 000002
SELECT CODE, NOM, PRENOM, SEXE, DN, AGE FROM PATIENT
WHERE CODE=:MYCODE
-- name: all_patients
SELECT * FROM PATIENT
-- name: rdv_exists
SELECT * FROM FRDV WHERE NUM<>'' AND       DATE_RDV='3/5/2024' AND       HRE_RDV='09:00' 
-- name: rdv_exists_other
SELECT * FROM FRDV WHERE NUM<>'000002' AND       DATE_RDV='3/5/2024' AND       HRE_RDV='09:00' 
-- name: rdv_list
SELECT NUM, PATIENT, DATE_RDV, HRE_RDV,  
               MOTIF, CODE, (NOM + ', ' + PRENOM)
FROM FRDV, PATIENT
WHERE PATIENT=CODE

ORDER BY DATE_RDV, HRE_RDV
-- name: rdv_delete
DELETE FROM FRDV WHERE NUM='000004'
-- name: prot_list
SELECT * FROM FPROT
ORDER BY DATE_PRT
-- name: prot_delete
DELETE FROM FPROT WHERE NUM='000002'
-- name: prot_report
-- param MYNUM text 000001
SELECT * FROM FPROT
WHERE NUM=:MYNUM
-- name: photo_patient
-- param MyPatient text 000001
SELECT * FROM PATIENT
WHERE CODE=:MyPatient
-- name: photos_delete_all
DELETE FROM FPHOTO WHERE CODE='000001'
-- name: photos_insert
INSERT INTO FPHOTO  (CODE, NUM, PHOTO) VALUES ('000001', '2', 'B.JPG')
-- name: photos_delete_replaced
DELETE FROM FPHOTO WHERE CODE='000002' AND       PHOTO='C.JPG'
