-- Character sets, column kinds and stored objects a dump has to bring back exactly.
SET NAMES utf8mb4;
CREATE DATABASE rundreise CHARACTER SET utf8mb4;
USE rundreise;
CREATE TABLE zeichen (
  id INT NOT NULL PRIMARY KEY,
  l1 VARCHAR(300) CHARACTER SET latin1,
  l1t TEXT CHARACTER SET latin1 COLLATE latin1_bin,
  w1250 VARCHAR(300) CHARACTER SET cp1250,
  u16 VARCHAR(300) CHARACTER SET utf16,
  u32 TEXT CHARACTER SET utf32,
  uc2 CHAR(10) CHARACTER SET ucs2,
  sj VARCHAR(100) CHARACTER SET sjis,
  m3 VARCHAR(100) CHARACTER SET utf8mb3,
  asc7 VARCHAR(100) CHARACTER SET ascii,
  en ENUM('ä','ö','x"y') CHARACTER SET latin1,
  st SET('a','ü') CHARACTER SET cp1250
) ENGINE=InnoDB;
INSERT INTO zeichen VALUES
  (1, 'ä\nö', 'ä\nö', 'ř"\r\n', 'a"b', 'a"b\n😀', 'a"b', 'ｱ"\\', 'ä"ß', 'plain "q"', 'ä', 'a,ü'),
  (2, 'plain', 'plain', 'plain', 'plain', 'plain', 'plain', 'plain', 'plain', 'plain', 'x"y', ''),
  (3, NULL, NULL, NULL, NULL, NULL, NULL, '表\\示', NULL, NULL, NULL, NULL);
-- Every byte value in the single-byte sets.
SET @all = (SELECT GROUP_CONCAT(LPAD(HEX(seq), 2, '0') ORDER BY seq SEPARATOR '') FROM seq_0_to_255);
INSERT INTO zeichen (id, l1, l1t, w1250) VALUES (4, UNHEX(@all), UNHEX(@all), UNHEX(@all));

CREATE TABLE arten (
  id INT NOT NULL PRIMARY KEY,
  versteckt VARCHAR(20) INVISIBLE DEFAULT 'vorgabe',
  sichtbar INT,
  doppelt INT AS (sichtbar * 2) VIRTUAL,
  gespeichert INT AS (sichtbar + 1) PERSISTENT,
  punkt POINT,
  adresse INET6,
  kennung UUID
) ENGINE=InnoDB;
INSERT INTO arten (id, versteckt, sichtbar, punkt, adresse, kennung) VALUES
  (1, 'geheim\n"x"', 7, POINT(1.5, -2), '2001:db8::1', '123e4567-e89b-12d3-a456-426614174000'),
  (2, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE `größe` (`maß` INT NOT NULL PRIMARY KEY, `übrig` VARCHAR(10) INVISIBLE) ENGINE=MyISAM;
INSERT INTO `größe` (`maß`, `übrig`) VALUES (1, 'ü');

CREATE TABLE kommentar (a VARCHAR(10) DEFAULT 'ä€' COMMENT 'ä€') ENGINE=InnoDB COMMENT 'Maße €';
INSERT INTO kommentar VALUES ('😀'), (DEFAULT);

CREATE TABLE protokoll (nr INT NOT NULL AUTO_INCREMENT PRIMARY KEY, text VARCHAR(100)) ENGINE=InnoDB;
DELIMITER ;;
CREATE FUNCTION verdoppeln(x INT) RETURNS INT DETERMINISTIC
BEGIN
  DECLARE y INT;
  SET y = x * 2;
  RETURN y;
END;;
CREATE PROCEDURE aufraeumen(IN bis INT)
BEGIN
  DELETE FROM protokoll WHERE nr < bis;
  SELECT 'fertig; "ok"\n 😀' AS meldung;
END;;
CREATE TRIGGER vorher BEFORE INSERT ON arten FOR EACH ROW
BEGIN
  SET NEW.sichtbar = IFNULL(NEW.sichtbar, 0);
END;;
CREATE TRIGGER danach AFTER INSERT ON arten FOR EACH ROW
BEGIN
  INSERT INTO protokoll (text) VALUES (CONCAT('neu: ', NEW.id, ';'));
END;;
CREATE TRIGGER danach2 AFTER INSERT ON arten FOR EACH ROW FOLLOWS danach
BEGIN
  INSERT INTO protokoll (text) VALUES ('zweiter');
END;;
CREATE EVENT aufraeumen_nachts ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 03:00:00'
ON COMPLETION PRESERVE DISABLE COMMENT 'nächtlich'
DO BEGIN
  CALL aufraeumen(10);
END;;
DELIMITER ;
-- Made by a client that spoke latin1: its body is kept in that set.
SET NAMES latin1;
CREATE FUNCTION altzeichen() RETURNS VARCHAR(20) CHARSET utf8mb4 DETERMINISTIC RETURN 'Größe';
SET NAMES utf8mb4;
SET SESSION sql_mode = 'PIPES_AS_CONCAT';
CREATE FUNCTION verketten() RETURNS VARCHAR(10) DETERMINISTIC RETURN 'a' || 'b';
SET SESSION sql_mode = DEFAULT;
CREATE VIEW v_doppelt AS SELECT id, verdoppeln(sichtbar) AS d FROM arten;

-- Copies of the server's own tables: every engine and column kind they use, with real rows.
ANALYZE TABLE zeichen PERSISTENT FOR ALL;
CREATE DATABASE systemkopie CHARACTER SET utf8mb4;
CREATE TABLE systemkopie.proc LIKE mysql.proc;
INSERT INTO systemkopie.proc SELECT * FROM mysql.proc;
CREATE TABLE systemkopie.event LIKE mysql.event;
INSERT INTO systemkopie.event SELECT * FROM mysql.event;
CREATE TABLE systemkopie.global_priv LIKE mysql.global_priv;
INSERT INTO systemkopie.global_priv SELECT * FROM mysql.global_priv;
CREATE TABLE systemkopie.help_topic LIKE mysql.help_topic;
INSERT INTO systemkopie.help_topic SELECT * FROM mysql.help_topic;
CREATE TABLE systemkopie.column_stats LIKE mysql.column_stats;
INSERT INTO systemkopie.column_stats SELECT * FROM mysql.column_stats;
CREATE TABLE systemkopie.innodb_index_stats LIKE mysql.innodb_index_stats;
INSERT INTO systemkopie.innodb_index_stats SELECT * FROM mysql.innodb_index_stats;
CREATE TABLE systemkopie.time_zone_name LIKE mysql.time_zone_name;
INSERT INTO systemkopie.time_zone_name VALUES ('Europe/Berlin', 1);
