# Datensicherung der Datenbank: Stammdaten
# Erstellt mit Trevalo 
# am: 10.12.2026 21:30:05
/*!40103 SET TIME_ZONE='+00:00' */;


DROP TABLE IF EXISTS `kunden`;

CREATE TABLE `kunden` (
  `id` int(11) NOT NULL,
  `name` varchar(40) NOT NULL,
  `betrag` decimal(10,2) DEFAULT NULL,
  `geboren` date NOT NULL,
  `zeit` datetime(3) DEFAULT NULL,
  `bild` blob DEFAULT NULL,
  `notiz` text DEFAULT NULL COMMENT 'darf NOT NULL nicht sein',
  PRIMARY KEY (`id`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;
INSERT INTO `kunden` VALUES ("1", "Müller", "1234.50", "2006-01-15", "2006-01-15 14:30:00.125", 0x00FF10, "Zeile mit \ und 'Apostroph'");
INSERT INTO `kunden` VALUES ("2", "", NULL, "0000-00-00", "2006-01-15 00:00:00.000", "", NULL);
INSERT INTO `kunden` VALUES ("3", 0x73616774202268616C6C6F22, "-0.01", "1899-12-30", NULL, NULL, 0x65696E730D0A7A776569);
INSERT INTO `kunden` VALUES ("4", 0x22, "42.00", "2024-02-29", "0000-00-00 00:00:00.000", NULL, "😀");


DROP TABLE IF EXISTS `order`;

CREATE TABLE `order` (
  `nr` int(11) NOT NULL AUTO_INCREMENT,
  `kunde` int(11) NOT NULL,
  `betrag` double NOT NULL,
  PRIMARY KEY (`nr`)
) ENGINE=InnoDB AUTO_INCREMENT=8 DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;
INSERT INTO `order` VALUES ("1", "1", "0.1");
INSERT INTO `order` VALUES ("7", "2", "-1.5e300");


DROP TABLE IF EXISTS `v_umsatz`;

DROP VIEW IF EXISTS `v_umsatz`;

CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW `v_umsatz` AS select `order`.`kunde` AS `kunde`,sum(`order`.`betrag`) AS `summe` from `order` group by `order`.`kunde`;