"""A plain autocommit connection for setting tables up and reading results back."""
import mysql.connector

from support.mariadb import query


class ReadBack:
    def __init__(self, settings):
        self.cnx = mysql.connector.connect(**settings, use_pure=True, autocommit=True)

    def query(self, sql, params=None):
        """Runs one statement; returns its rows as a list of tuples (empty when it returns none)."""
        return query(self.cnx, sql, params)

    def run(self, sql, params=None):
        """Runs one statement that returns no rows; returns the cursor's lastrowid."""
        cursor = self.cnx.cursor()
        try:
            cursor.execute(sql, params)
            if cursor.with_rows:
                cursor.fetchall()
            return cursor.lastrowid
        finally:
            cursor.close()

    def close(self):
        try:
            self.cnx.close()
        except Exception:
            pass
